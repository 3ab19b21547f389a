#include "file_layer.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

struct FileHandle {
    int fd;
    bool isPipe;  // FIFO, socket or character device: no position, bytes can be "waiting"
    int access;
    int creation;
    bool nonBlocking;  // switched on by the first fileWriteSome
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

// The console line goes to standard output; a file the engine was to create
// (its output, its control files) also gets the reason on standard error,
// which Wireshark shows and a terminal user sees even with the console
// output redirected. `reason` is an errno value, or kReasonInUse. errno is
// left as it was, for the caller's own message.
constexpr int kReasonInUse = -1;

void reportAccessViolation(const char *path, int creation, int reason) {
    const int savedErrno = errno;
    std::printf(
        " >>> Error <<< Access violation while creating file [%s]. Please check access rights at the chosen "
        "file location.\n",
        path ? path : "");
    std::fflush(stdout);
    if (creation == kFileCreateTruncate) {
        std::fprintf(stderr, "sentra_extcap: cannot create file [%s]: %s\n", path ? path : "",
                     reason == kReasonInUse ? "it is in use by another capture" : std::strerror(reason));
        std::fflush(stderr);
    }
    errno = savedErrno;
}

// Ordinary files the engine creates are its own for the run: a second
// capture writing the same default files would silently mix or destroy the
// first one's output. The lock is taken before the file is truncated, so the
// refused run leaves the other one's data alone.
// Answers 0, or the reason it failed.
int lockAndTruncate(int fd) {
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? kReasonInUse : errno;
    return ftruncate(fd, 0) == 0 ? 0 : errno;
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

FileHandle *fileOpen(const char *path, int access, int creation) {
    ignoreBrokenPipeSignal();
    const size_t length = path ? strnlen(path, kFileMaxPathChars + 1) : 0;
    const int flags = openFlags(access);
    if (length < 1 || length > static_cast<size_t>(kFileMaxPathChars) || flags < 0 ||
        (creation != kFileCreateTruncate && creation != kFileOpenExisting)) {
        reportAccessViolation(path, creation, length < 1 ? ENOENT : ENAMETOOLONG);
        errno = length < 1 ? ENOENT : ENAMETOOLONG;
        return nullptr;
    }

    // Wireshark creates the FIFO and the control pipes and hands us their
    // paths: those are opened as they are (no O_CREAT/O_TRUNC, which would be
    // meaningless or replace them). Only ordinary files are created/truncated.
    // A FIFO opened for writing only waits here until its reader opens it.
    struct stat info {};
    const bool exists = stat(path, &info) == 0;
    int fileFlags = flags | O_CLOEXEC;
    const bool createOrdinary = creation == kFileCreateTruncate && !(exists && isPipeLike(info.st_mode));
    if (createOrdinary) fileFlags |= O_CREAT;

    int fd;
    do {
        fd = ::open(path, fileFlags, 0644);
    } while (fd < 0 && errno == EINTR);
    int reason = fd < 0 ? errno : 0;
    if (reason == 0 && fstat(fd, &info) != 0) reason = errno;
    if (reason == 0 && createOrdinary && S_ISREG(info.st_mode)) reason = lockAndTruncate(fd);
    if (reason != 0) {
        if (fd >= 0) ::close(fd);
        reportAccessViolation(path, creation, reason);
        errno = reason == kReasonInUse ? EWOULDBLOCK : reason;
        return nullptr;
    }

    FileHandle *file = new (std::nothrow) FileHandle{};
    if (!file) {
        ::close(fd);
        reportAccessViolation(path, creation, ENOMEM);
        errno = ENOMEM;
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

int64_t fileBytesWaiting(FileHandle *file) {
    if (!file || !file->isPipe) return -1;
    int waiting = 0;
    if (ioctl(file->fd, FIONREAD, &waiting) != 0) return -1;
    return waiting;
}

bool filePipeReaderGone(FileHandle *file) {
    if (!file || !file->isPipe) return false;
    pollfd probe{file->fd, POLLOUT, 0};
    return poll(&probe, 1, 0) > 0 && (probe.revents & (POLLERR | POLLHUP)) != 0;
}

int fileReadAt(FileHandle *file, uint64_t offset, void *buffer, uint32_t count, int onlyIfAvailable) {
    if (!file || (!buffer && count > 0)) return -1;
    if (onlyIfAvailable && fileBytesWaiting(file) < static_cast<int64_t>(count)) return -1;

    auto *out = static_cast<unsigned char *>(buffer);
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

// Waits until the file takes bytes again; false on timeout or error.
bool waitWritable(int fd, int timeoutMs) {
    struct pollfd out {
        fd, POLLOUT, 0
    };
    int ready;
    do {
        ready = poll(&out, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

int fileWrite(FileHandle *file, const void *buffer, uint32_t count) {
    if (!file || (!buffer && count > 0)) return -1;
    const auto *in = static_cast<const unsigned char *>(buffer);
    uint32_t done = 0;
    while (done < count) {
        ssize_t put = ::write(file->fd, in + done, count - done);
        if (put < 0 && errno == EINTR) continue;
        // A pipe switched to non-blocking writes by fileWriteSome: wait here as
        // a blocking write would.
        if (put < 0 && errno == EAGAIN && file->nonBlocking && waitWritable(file->fd, -1)) continue;
        if (put <= 0) return -1;  // EPIPE when the reader went away, ENOSPC, ...
        done += static_cast<uint32_t>(put);
    }
    return 0;
}

int64_t fileWriteSome(FileHandle *file, const void *buffer, uint32_t count, int timeoutMs) {
    if (!file || (!buffer && count > 0)) return -1;
    if (count == 0) return 0;
    if (file->isPipe && !file->nonBlocking) {
        const int flags = fcntl(file->fd, F_GETFL);
        if (flags < 0 || fcntl(file->fd, F_SETFL, flags | O_NONBLOCK) != 0) return -1;
        file->nonBlocking = true;
    }
    for (;;) {
        const ssize_t put = ::write(file->fd, buffer, count);
        if (put > 0) return put;
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno == EAGAIN) {
            if (!waitWritable(file->fd, timeoutMs)) return 0;
            timeoutMs = 0;  // one wait per call: room has come, take what fits
            continue;
        }
        return -1;
    }
}

uint64_t fileSize(FileHandle *file) {
    struct stat info {};
    if (!file || fstat(file->fd, &info) != 0 || info.st_size < 0) return 0;
    return static_cast<uint64_t>(info.st_size);
}

const char *filePath(const FileHandle *file) { return file ? file->path : ""; }

void fileClose(FileHandle *file) {
    if (!file) return;
    ::close(file->fd);
    delete file;
}
