// POSIX implementation of program launching: posix_spawnp with the caller's
// argument vector, so no text is ever interpreted by a shell.
#include "base/platform/launch.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

bool pathExists(const char* path) {
    struct stat st;
    return path && ::stat(path, &st) == 0;
}

int runProgram(const char* file, const char* const argv[]) {
    pid_t pid = 0;
    // posix_spawnp takes char* const[] for historical reasons; it does not
    // change the strings.
    if (::posix_spawnp(&pid, file, nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
