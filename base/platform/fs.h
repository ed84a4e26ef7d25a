// Platform layer: directory listings, the program's own path and path syntax.
//
// A listing classifies each entry the way wildcard expansion needs it: hidden
// means a name that begins with a dot; read-only means not writable by the
// user; no entry is a system entry on Linux. An entry counts as a directory when
// it is one or is a symbolic link to one; isLink tells the two apart, so that a
// recursive search can stay out of linked directories (and out of link loops).
#pragma once

#include <string>
#include <vector>

struct PlatformDirEntry {
    std::string name;
    bool isDir = false;
    bool isLink = false;
    bool isHidden = false;
    bool isReadOnly = false;
    bool isSystem = false;
};

// Lists the entries of dir ("" means the current directory), without "." and
// "..", in the order the system gives them. False (errno set) when dir cannot
// be read.
bool platformListDir(const char* dir, std::vector<PlatformDirEntry>& out);

// The full path of the running executable (from /proc/self/exe), or "" with
// errno set.
std::string platformExePath();

// True when path is absolute: it starts with '/'.
bool platformIsAbsolutePath(const char* path);

// The directory separator used when the program joins paths.
constexpr char kPathSeparator = '/';
