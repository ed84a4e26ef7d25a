// Platform layer: files by descriptor (POSIX open/read/write underneath).
//
// Plain functions that return -1 and leave errno set on failure, so that the
// caller can report the system's text. Interrupted calls are retried here.
// Files opened for writing carry a non-blocking exclusive advisory lock
// (flock), so that a second writer of the same file is refused instead of
// overwriting the first writer's bytes.
#pragma once

#include <cstdint>

// Opens path for reading; the descriptor or -1.
int platformOpenRead(const char* path);

// Opens path for writing, creating it (mode 0666 less the umask). The open file
// is locked exclusively (non-blocking) before anything is changed: when another
// writer holds the lock the result is -1 with errno EWOULDBLOCK and the file is
// untouched. Then, with truncate, a regular file is cut to 0 bytes; otherwise
// its position is moved to the end (devices and pipes are left as they are).
// The descriptor or -1.
int platformOpenWrite(const char* path, bool truncate);

// One read or write of at most n bytes; the bytes transferred or -1.
int platformRead(int fd, void* buf, int n);
int platformWrite(int fd, const void* buf, int n);

// Moves the position to pos (from the start) or, for pos < 0, to the end; the
// new position or -1.
int64_t platformSeek(int fd, int64_t pos);
// The current position or -1.
int64_t platformTell(int fd);

// 0 or -1.
int platformClose(int fd);
int platformTruncate(int fd, int64_t size);
int platformSync(int fd);

// The size of the open file or -1.
int64_t platformFileSize(int fd);

// Removes path unless another process or stream holds its write lock; 0 when
// it was removed, -1 otherwise.
int platformRemoveUnlocked(const char* path);
