// The one file layer of the capture engine: the pcapng FIFO or output file,
// the extcap control pipes (or their default files) and the replay file are
// all opened, read, written and closed through it. Every operation answers
// 0 / -1 (or a handle / nullptr); only open reports anything.
#pragma once

#include <cstdint>

struct FileHandle;

// Longest path the layer accepts.
constexpr int kFileMaxPathChars = 260;

enum FileAccess : int { kFileRead = 1, kFileWrite = 2, kFileReadWrite = 3 };
enum FileCreation : int {
    kFileCreateTruncate = 0,  // an existing FIFO is opened as it is; anything else is created or truncated
    kFileOpenExisting = 1,    // the path must exist
};

// Opens `path` (1..260 characters). On any failure prints the access-rights
// line on standard output and answers nullptr with errno telling why; a file
// to be created also gets the reason on standard error. A FIFO that already
// exists is opened at its client end and never replaced by an ordinary file.
// An ordinary file created or truncated is locked exclusively for as long as
// it is open: while another run holds it, the open fails (EWOULDBLOCK) and
// the file is left untouched.
FileHandle *fileOpen(const char *path, int access, int creation);

// Reads exactly `count` bytes at `offset` (pipes have no position: the offset
// is ignored there). With `onlyIfAvailable`, nothing is read and -1 is the
// answer unless at least `count` bytes are already waiting in the pipe; an
// ordinary file never has bytes "waiting". 0 only if exactly `count` bytes
// were read.
int fileReadAt(FileHandle *file, uint64_t offset, void *buffer, uint32_t count, int onlyIfAvailable);

// Bytes waiting in a pipe right now; -1 for an ordinary file or on failure.
int64_t fileBytesWaiting(FileHandle *file);
// Whether the reader of a pipe has closed its end (bytes still waiting in
// the pipe will then never be taken). False for other files.
bool filePipeReaderGone(FileHandle *file);

// Writes exactly `count` bytes (partial writes are continued). 0 only if all
// were written; -1 otherwise, e.g. when the pipe's reader has gone away.
int fileWrite(FileHandle *file, const void *buffer, uint32_t count);

// Writes what the file takes within `timeoutMs`: answers the bytes written
// (fewer than `count`, or 0 when no room came in time), -1 on failure. A pipe
// is switched to non-blocking writes for this; fileWrite still waits for
// room on it as before.
int64_t fileWriteSome(FileHandle *file, const void *buffer, uint32_t count, int timeoutMs);

// Size in bytes; 0 on failure. 64-bit so replay files past 4 GiB keep working.
uint64_t fileSize(FileHandle *file);

// The path the handle was opened with.
const char *filePath(const FileHandle *file);

// Closes the handle and frees the object; nullptr is ignored.
void fileClose(FileHandle *file);
