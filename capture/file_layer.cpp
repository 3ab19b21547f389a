#include "file_layer.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

struct FileHandle {
  int fd;
  bool isPipe;                          // FIFO, socket or character device: no position, bytes can be "waiting"
  int access;
  int creation;
  char path[kFileMaxPathChars + 1];
};

namespace {

// A write into a pipe whose reader has gone (Wireshark stopped the capture)
// must fail with EPIPE rather than kill the engine, so SIGPIPE is ignored for
// the whole process as soon as the first file is opened.
void ignoreBrokenPipeSignal() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      sigemptyset(&ignore.sa_mask);
      sigaction(SIGPIPE, &ignore, nullptr);
    }
  });
}

void reportAccessViolation(const char* path) {
  std::printf(" >>> Error <<< Access violation while creating file [%s]. Please check access rights at the chosen "
              "file location.\n",
              path ? path : "");
  std::fflush(stdout);
}

int openFlags(int access) {
  switch (access) {
    case kFileRead: return O_RDONLY;
    case kFileWrite: return O_WRONLY;
    case kFileReadWrite: return O_RDWR;
    default: return -1;
  }
}

bool isPipeLike(mode_t mode) { return S_ISFIFO(mode) || S_ISSOCK(mode) || S_ISCHR(mode); }

}  // namespace

FileHandle* fileOpen(const char* path, int access, int creation) {
  ignoreBrokenPipeSignal();
  const size_t length = path ? strnlen(path, kFileMaxPathChars + 1) : 0;
  const int flags = openFlags(access);
  if (length < 1 || length > static_cast<size_t>(kFileMaxPathChars) || flags < 0 ||
      (creation != kFileCreateTruncate && creation != kFileOpenExisting)) {
    reportAccessViolation(path);
    return nullptr;
  }

  // Wireshark creates the FIFO and the control pipes and hands us their
  // paths: those are opened as they are (no O_CREAT/O_TRUNC, which would be
  // meaningless or replace them). Only ordinary files are created/truncated.
  // A FIFO opened for writing only waits here until its reader opens it.
  struct stat info {};
  const bool exists = stat(path, &info) == 0;
  int fileFlags = flags | O_CLOEXEC;
  if (creation == kFileCreateTruncate && !(exists && isPipeLike(info.st_mode))) {
    fileFlags |= O_CREAT | O_TRUNC;
  }

  int fd;
  do {
    fd = ::open(path, fileFlags, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    reportAccessViolation(path);
    return nullptr;
  }
  if (fstat(fd, &info) != 0) {
    ::close(fd);
    reportAccessViolation(path);
    return nullptr;
  }

  FileHandle* file = new (std::nothrow) FileHandle{};
  if (!file) {
    ::close(fd);
    reportAccessViolation(path);
    return nullptr;
  }
  file->fd = fd;
  file->isPipe = isPipeLike(info.st_mode);
  file->access = access;
  file->creation = creation;
  std::memcpy(file->path, path, length);
  file->path[length] = '\0';
  return file;
}

int64_t fileBytesWaiting(FileHandle* file) {
  if (!file || !file->isPipe) return -1;
  int waiting = 0;
  if (ioctl(file->fd, FIONREAD, &waiting) != 0) return -1;
  return waiting;
}

int fileReadAt(FileHandle* file, uint64_t offset, void* buffer, uint32_t count, int onlyIfAvailable) {
  if (!file || (!buffer && count > 0)) return -1;
  if (onlyIfAvailable && fileBytesWaiting(file) < static_cast<int64_t>(count)) return -1;

  auto* out = static_cast<unsigned char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    ssize_t got = file->isPipe ? ::read(file->fd, out + done, count - done)
                               : ::pread(file->fd, out + done, count - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return -1;  // error or end of file before count bytes
    done += static_cast<uint32_t>(got);
  }
  return 0;
}

int fileWrite(FileHandle* file, const void* buffer, uint32_t count) {
  if (!file || (!buffer && count > 0)) return -1;
  const auto* in = static_cast<const unsigned char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    ssize_t put = ::write(file->fd, in + done, count - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return -1;  // EPIPE when the reader went away, ENOSPC, ...
    done += static_cast<uint32_t>(put);
  }
  return 0;
}

uint64_t fileSize(FileHandle* file) {
  struct stat info {};
  if (!file || fstat(file->fd, &info) != 0 || info.st_size < 0) return 0;
  return static_cast<uint64_t>(info.st_size);
}

const char* filePath(const FileHandle* file) { return file ? file->path : ""; }

void fileClose(FileHandle* file) {
  if (!file) return;
  ::close(file->fd);
  delete file;
}
