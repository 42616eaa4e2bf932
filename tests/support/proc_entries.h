// Counts of what this process holds, for tests that nothing leaks.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <fstream>

#include <string>

namespace sio::test {

// Entries of a /proc/self directory: open descriptors ("fd") or threads ("task").
inline int CountProcEntries(const char* what) {
    std::string path = std::string("/proc/self/") + what;
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return -1;
    int count = 0;
    while (dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.')
            ++count;
    ::closedir(dir);
    return count - (std::string(what) == "fd" ? 1 : 0);  // the directory's own descriptor
}

// The process's resident memory in KiB.
inline long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace sio::test
