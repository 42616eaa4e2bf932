// Counts of what this process holds, for tests that nothing leaks.
#pragma once

#include <dirent.h>

#include <fstream>
#include <sstream>
#include <string>

namespace sio::test {

// A thread that has left its memory behind is on its way out: the kernel
// wakes pthread_join as it drops the memory, and lists the thread in
// /proc/self/task a little longer, until it reaps it. Such a thread is
// already joined and is not counted. Its sign is a virtual size of 0 (the
// 23rd field of its stat).
inline bool ThreadIsExiting(const std::string& tid) {
    std::ifstream stat("/proc/self/task/" + tid + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t nameEnd = text.rfind(')');
    if (nameEnd == std::string::npos)
        return true;  // gone while we looked
    std::istringstream fields(text.substr(nameEnd + 1));
    std::string field;
    for (int i = 3; i <= 23 && fields >> field; ++i) {
    }
    return field == "0";
}

// Entries of a /proc/self directory: open descriptors ("fd") or threads ("task").
inline int CountProcEntries(const char* what) {
    std::string path = std::string("/proc/self/") + what;
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return -1;
    int count = 0;
    while (dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.' && !(std::string(what) == "task" && ThreadIsExiting(entry->d_name)))
            ++count;
    ::closedir(dir);
    return count - (std::string(what) == "fd" ? 1 : 0);  // the directory's own descriptor
}

}  // namespace sio::test
