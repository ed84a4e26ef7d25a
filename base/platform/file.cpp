// POSIX implementation of the file functions of the platform layer.
#include "base/platform/file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes fd without disturbing errno (used on failure paths).
void closeKeepingErrno(int fd) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

// Takes the exclusive lock of fd without waiting.
bool lockExclusive(int fd) {
    int r;
    do {
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (r < 0 && errno == EINTR);
    return r == 0;
}

}  // namespace

int platformOpenRead(const char* path) {
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int platformOpenWrite(const char* path, bool truncate) {
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    int fd;
    do {
        // No O_TRUNC here: the file may belong to another writer until the
        // lock below is ours.
        fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    // Only another holder of the lock refuses the open; a file system without
    // flock support still gets its file.
    if (!lockExclusive(fd) && errno == EWOULDBLOCK) {
        closeKeepingErrno(fd);
        return -1;
    }
    // Devices and pipes (/dev/null, a FIFO) are written as they are.
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        if (truncate ? ::ftruncate(fd, 0) < 0 : ::lseek(fd, 0, SEEK_END) < 0) {
            closeKeepingErrno(fd);
            return -1;
        }
    }
    return fd;
}

int platformRead(int fd, void* buf, int n) {
    ssize_t r;
    do {
        r = ::read(fd, buf, static_cast<size_t>(n));
    } while (r < 0 && errno == EINTR);
    return static_cast<int>(r);
}

int platformWrite(int fd, const void* buf, int n) {
    ssize_t r;
    do {
        r = ::write(fd, buf, static_cast<size_t>(n));
    } while (r < 0 && errno == EINTR);
    return static_cast<int>(r);
}

int64_t platformSeek(int fd, int64_t pos) {
    const off_t r = pos < 0 ? ::lseek(fd, 0, SEEK_END) : ::lseek(fd, static_cast<off_t>(pos), SEEK_SET);
    return static_cast<int64_t>(r);
}

int64_t platformTell(int fd) { return static_cast<int64_t>(::lseek(fd, 0, SEEK_CUR)); }

int platformClose(int fd) {
    // On Linux the descriptor is released even when close reports EINTR, so
    // the call is never repeated.
    return ::close(fd) < 0 && errno != EINTR ? -1 : 0;
}

int platformTruncate(int fd, int64_t size) {
    int r;
    do {
        r = ::ftruncate(fd, static_cast<off_t>(size));
    } while (r < 0 && errno == EINTR);
    return r;
}

int platformSync(int fd) { return ::fsync(fd); }

int64_t platformFileSize(int fd) {
    struct stat st;
    if (::fstat(fd, &st) < 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

int platformRemoveUnlocked(const char* path) {
    const int fd = platformOpenRead(path);
    if (fd < 0) return -1;
    int r = -1;
    if (lockExclusive(fd)) r = ::unlink(path);
    closeKeepingErrno(fd);
    return r;
}
