// The kernel32 calls the owner thread makes in an open, a line-settings
// change and a close, recorded through the layer's table of calls. The
// workers' own calls (the event wait, reads, writes) interleave with them
// and are left out.
#include "win32_test_support.h"

#include "serial/component/com_port.h"
#include "serial/win32/kernel32_calls.h"

#include <gtest/gtest.h>

#include <mutex>
#include <memory>
#include <string>
#include <vector>

using namespace sio;
using namespace sio::test;

namespace {

std::mutex recordLock;  // guards the two below
std::vector<std::string> record;
DWORD recordedThread = 0;
Kernel32Calls original;

void Note(const std::string& call) {
    std::lock_guard lock(recordLock);
    if (::GetCurrentThreadId() == recordedThread) record.push_back(call);
}

std::vector<std::string> TakeRecord() {
    std::lock_guard lock(recordLock);
    return std::exchange(record, {});
}

// Every entry is wrapped: it notes its name (and the argument that tells
// calls apart), then calls the system.
void WrapKernel32() {
    original = Kernel32();
    Kernel32Calls& k = Kernel32();
    k.CreateFileA = [](LPCSTR name, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD c, DWORD f, HANDLE t) {
        Note(std::string("CreateFileA ") + name);
        return original.CreateFileA(name, a, s, sa, c, f, t);
    };
    k.CreateEventA = [](LPSECURITY_ATTRIBUTES sa, BOOL m, BOOL i, LPCSTR n) {
        Note("CreateEventA");
        return original.CreateEventA(sa, m, i, n);
    };
    k.CloseHandle = [](HANDLE h) {
        Note("CloseHandle");
        return original.CloseHandle(h);
    };
    k.SetupComm = [](HANDLE h, DWORD in, DWORD out) {
        Note("SetupComm " + std::to_string(in) + " " + std::to_string(out));
        return original.SetupComm(h, in, out);
    };
    k.GetCommState = [](HANDLE h, LPDCB d) {
        Note("GetCommState");
        return original.GetCommState(h, d);
    };
    k.SetCommState = [](HANDLE h, LPDCB d) {
        Note("SetCommState " + std::to_string(d->BaudRate));
        return original.SetCommState(h, d);
    };
    k.SetCommMask = [](HANDLE h, DWORD m) {
        Note("SetCommMask " + std::to_string(m));
        return original.SetCommMask(h, m);
    };
    k.ClearCommError = [](HANDLE h, LPDWORD e, LPCOMSTAT s) {
        Note("ClearCommError");
        return original.ClearCommError(h, e, s);
    };
    k.PurgeComm = [](HANDLE h, DWORD f) {
        Note("PurgeComm " + std::to_string(f));
        return original.PurgeComm(h, f);
    };
    k.EscapeCommFunction = [](HANDLE h, DWORD f) {
        Note("EscapeCommFunction " + std::to_string(f));
        return original.EscapeCommFunction(h, f);
    };
    k.GetCommModemStatus = [](HANDLE h, LPDWORD s) {
        Note("GetCommModemStatus");
        return original.GetCommModemStatus(h, s);
    };
}

TEST(Kernel32Order, OpenLineChangeAndCloseCallTheDeviceInTheDesignedOrder) {
    std::unique_ptr<LinuxPeer> echo(EchoPeer(9));
    ASSERT_TRUE(echo->Ready());
    recordedThread = ::GetCurrentThreadId();
    WrapKernel32();
    TSioComPort port;
    port.SetComNumber(9);
    port.SetBaud(9600);
    port.SetInSize(40960);
    port.SetOutSize(40960);
    port.SetRTS(false);
    port.SetOpen(true);
    const std::vector<std::string> open = TakeRecord();
    port.SetBaud(19200);
    const std::vector<std::string> change = TakeRecord();
    port.SetOpen(false);
    const std::vector<std::string> close = TakeRecord();
    Kernel32() = original;

    for (const auto& c : open) std::printf("open: %s\n", c.c_str());
    for (const auto& c : change) std::printf("change: %s\n", c.c_str());
    for (const auto& c : close) std::printf("close: %s\n", c.c_str());
}

}  // namespace
