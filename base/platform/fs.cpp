// POSIX implementation of directory listings (opendir/readdir, fstatat,
// faccessat) and of the executable's path (readlink of /proc/self/exe).
#include "base/platform/fs.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool platformListDir(const char* dir, std::vector<PlatformDirEntry>& out) {
    DIR* d = ::opendir(dir && *dir ? dir : ".");
    if (!d) return false;
    const int dfd = ::dirfd(d);
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(d);
        if (!e) break;
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        PlatformDirEntry entry;
        entry.name = name;
        entry.isHidden = name[0] == '.';
        struct stat st;
        if (::fstatat(dfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
        entry.isLink = S_ISLNK(st.st_mode);
        if (entry.isLink) {
            struct stat target;
            // A dangling link is listed as a plain entry.
            if (::fstatat(dfd, name, &target, 0) == 0) st = target;
        }
        entry.isDir = S_ISDIR(st.st_mode);
        entry.isReadOnly = ::faccessat(dfd, name, W_OK, AT_EACCESS) != 0;
        out.push_back(std::move(entry));
    }
    const int err = errno;
    ::closedir(d);
    errno = err;
    return err == 0;
}

std::string platformExePath() {
    char buf[10000];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof buf - 1)) {
        if (n > 0) errno = ENAMETOOLONG;
        return std::string();
    }
    return std::string(buf, static_cast<size_t>(n));
}

bool platformIsAbsolutePath(const char* path) { return path && path[0] == '/'; }
