#include "win32_test_support.h"

#include "port_dir.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace sio::test {

namespace {

// Looks at a condition that no message announces (the peer's link).
bool WaitFor(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        ::Sleep(10);
    }
    return true;
}

}  // namespace

LinuxPeer::LinuxPeer(int com, const std::vector<std::string>& args)
    : folder_(DosDevicesFolder()), name_("com" + std::to_string(com)) {
    std::string command = OnDriveZ(PTY_PEER_PATH) + " " + DosDevicesFolder() + " " + std::to_string(com);
    for (const std::string& arg : args) command += " " + arg;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    // Wine starts a Unix program named by its Z: path like any other.
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    ready_ = WaitFor([this] { return LinkExists(folder_, name_); });
}

LinuxPeer::~LinuxPeer() {
    const std::string stop = OnDriveZ(folder_) + "\\stop-" + name_;
    HANDLE file = ::CreateFileA(stop.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    // Gone once its link is: the next peer on this number starts clean.
    WaitFor([this] { return !LinkExists(folder_, name_); });
}

LinuxPeer* WriterSim(int com) {
    return new LinuxPeer(com, {"run", WRITER_SIM_PATH, "--exit-on-stdin-eof", "--port-dir", DosDevicesFolder(),
                               "--com", std::to_string(com)});
}


bool PumpUntil(const std::function<bool()>& done, int limitMs) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        // Sleeps until a message arrives for this thread (looking again now
        // and then, for a condition that a worker changes).
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<long long>(left.count(), 20)),
                                    QS_ALLINPUT);
        MSG m;
        while (::PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&m);
            ::DispatchMessageA(&m);
        }
    }
    return true;
}

}  // namespace sio::test
