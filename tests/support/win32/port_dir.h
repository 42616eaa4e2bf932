// The port folder of a Windows test program under Wine: the prefix's
// dosdevices folder, where a link comN -> /dev/pts/M is COMn. The Linux
// edition's ScopedPortDir makes a temporary folder instead; the two share
// path() and Link(), so the device-layer cases hold either.
#pragma once

// After the component's own Windows-named records, which <windows.h>
// would otherwise rewrite.
#include "serial/win32/windows_api.h"

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace sio::test {

// The dosdevices folder as a Linux program names it (the line peer links
// there).
inline std::string DosDevicesFolder() {
    const char* prefix = std::getenv("WINEPREFIX");
    if (!prefix)
        throw std::runtime_error("WINEPREFIX is not set: run this program through wine-run");
    return std::string(prefix) + "/dosdevices";
}

// A Unix path as Wine's Z: drive names it.
inline std::string OnDriveZ(const std::string& path) {
    std::string name = "Z:";
    for (char c : path)
        name += c == '/' ? '\\' : c;
    return name;
}

// Looked up in the folder's listing: a path ending in "com3" names the
// device COM3 to Windows, not the link.
inline bool LinkExists(const std::string& unixFolder, const std::string& name) {
    WIN32_FIND_DATAA entry;
    HANDLE find = ::FindFirstFileA((OnDriveZ(unixFolder) + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    bool found = false;
    do {
        found = name == entry.cFileName;
    } while (!found && ::FindNextFileA(find, &entry));
    ::FindClose(find);
    return found;
}

// Runs a Linux program (Wine starts one named by its Z: path like any
// other) and waits until the link `name` in `unixFolder` exists or not, as
// `present` says: no Windows call can make or remove a link named like a
// device, and Wine gives no notice when the program is done.
inline bool RunForLink(const std::string& command, const std::string& unixFolder, const std::string& name,
                       bool present) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string line = command;
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (LinkExists(unixFolder, name) != present) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        ::Sleep(10);
    }
    return true;
}

class ScopedPortDir {
public:
    ScopedPortDir() : dir_(DosDevicesFolder()) {}
    // The links this object made go with it; the line peer removes its own.
    ~ScopedPortDir() {
        for (const std::string& name : made_)
            RunForLink(OnDriveZ("/bin/rm") + " -f " + dir_ + "/" + name, dir_, name, false);
    }
    ScopedPortDir(const ScopedPortDir&) = delete;
    ScopedPortDir& operator=(const ScopedPortDir&) = delete;

    const std::string& path() const { return dir_; }

    // comN -> target (a Linux path), replacing what stood under that name.
    void Link(int number, const std::string& target) {
        const std::string name = "com" + std::to_string(number);
        if (!RunForLink(OnDriveZ("/bin/ln") + " -sfn " + target + " " + dir_ + "/" + name, dir_, name, true))
            throw std::runtime_error("cannot link " + dir_ + "/" + name);
        made_.push_back(name);
    }

private:
    std::string dir_;
    std::vector<std::string> made_;
};

}  // namespace sio::test
