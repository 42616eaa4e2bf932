// The kernel32 calls the owner thread makes in an open, a line-settings
// change and a close, recorded through the layer's table of calls, with the
// event worker's set-up of the device (its mask and the read time-outs),
// which the open waits for. The workers' other calls (the event wait,
// reads, writes) interleave with them and are left out.
#include "peer_line.h"
#include "port_dir.h"

#include "serial/component/com_port.h"
#include "serial/win32/kernel32_calls.h"

#include <gtest/gtest.h>

#include <mutex>
#include <utility>
#include <memory>
#include <string>
#include <vector>

using namespace sio;
using namespace sio::test;
using sio::contract::MakePeerLine;

namespace {

std::mutex recordLock;  // guards the two below
std::vector<std::string> record;
DWORD recordedThread = 0;
Kernel32Calls original;

void Note(const std::string& call, bool anyThread = false) {
    std::lock_guard lock(recordLock);
    if (anyThread || ::GetCurrentThreadId() == recordedThread) record.push_back(call);
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
        Note("SetCommMask " + std::to_string(m), true);
        return original.SetCommMask(h, m);
    };
    k.SetCommTimeouts = [](HANDLE h, LPCOMMTIMEOUTS t) {
        Note("SetCommTimeouts " + std::to_string(t->ReadIntervalTimeout) + " " +
                 std::to_string(t->ReadTotalTimeoutMultiplier) + " " + std::to_string(t->ReadTotalTimeoutConstant) +
                 " " + std::to_string(t->WriteTotalTimeoutMultiplier) + " " +
                 std::to_string(t->WriteTotalTimeoutConstant),
             true);
        return original.SetCommTimeouts(h, t);
    };
    k.FlushFileBuffers = [](HANDLE h) {
        Note("FlushFileBuffers");
        return original.FlushFileBuffers(h);
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
    auto line = MakePeerLine(9, DosDevicesFolder());
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

    // The open in the order the device layer keeps: the device, its
    // events, the queues, the block read, DTR up and RTS down, the modem
    // lines, the line settings (read; the drain reads the block, finds
    // software flow on, as a fresh pseudo-terminal reports it, and leaves
    // FlushFileBuffers out; read again, written, lines driven again),
    // pending errors cleared; the event worker's mask and read time-outs,
    // which the open waits for; then the component applies flow control
    // and the lines.
    const std::vector<std::string> expectedOpen = {
        "CreateFileA \\\\.\\COM9",
        "CreateEventA", "CreateEventA", "CreateEventA", "CreateEventA", "CreateEventA",
        "SetupComm 40960 40960",
        "GetCommState",
        "EscapeCommFunction 5", "EscapeCommFunction 4",
        "GetCommModemStatus",
        "GetCommState", "GetCommState", "GetCommState", "GetCommState", "SetCommState 9600",
        "EscapeCommFunction 5", "EscapeCommFunction 4",
        "ClearCommError",
        "SetCommMask 505", "SetCommTimeouts 4294967295 0 0 0 0",
    };
    ASSERT_GE(open.size(), expectedOpen.size());
    EXPECT_EQ(std::vector<std::string>(open.begin(), open.begin() + expectedOpen.size()), expectedOpen);
    // Hardware flow, software flow and the two flow characters, each a
    // block read, written and the lines driven again; then DTR and RTS.
    std::vector<std::string> applied(open.begin() + expectedOpen.size(), open.end());
    std::vector<std::string> expectedApplied;
    for (int i = 0; i < 4; ++i)
        expectedApplied.insert(expectedApplied.end(), {"GetCommState", "SetCommState 9600", "EscapeCommFunction 5",
                                                       "EscapeCommFunction 4"});
    expectedApplied.insert(expectedApplied.end(), {"EscapeCommFunction 5", "EscapeCommFunction 4"});
    EXPECT_EQ(applied, expectedApplied);

    // The bytes queued at the old speed leave first: flow control is off
    // now, so the driver is asked to send what it holds.
    EXPECT_EQ(change, (std::vector<std::string>{"GetCommState", "GetCommState", "FlushFileBuffers", "GetCommState",
                                                "SetCommState 19200", "EscapeCommFunction 5",
                                                "EscapeCommFunction 4"}));

    // Output purged, input purged, the event wait ended (the mask cleared,
    // as often as it takes the wait to let go of the handle), the handle
    // closed, then the layer's five events.
    std::vector<std::string> closing;
    for (const std::string& call : close)
        if (closing.empty() || call != "SetCommMask 0" || closing.back() != call) closing.push_back(call);
    EXPECT_EQ(closing, (std::vector<std::string>{"PurgeComm 5", "PurgeComm 10", "SetCommMask 0", "CloseHandle",
                                                 "CloseHandle", "CloseHandle", "CloseHandle", "CloseHandle",
                                                 "CloseHandle"}));
}

}  // namespace
