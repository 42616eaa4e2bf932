// Shared set-up for the dispatcher tests: the test thread owns the port, a
// fake owner link stands in for the window-message layer, a fake device for
// the serial port.
#pragma once

#include "fake_device.h"
#include "fake_owner.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

class DispatcherTest : public ::testing::Test {
protected:
    static constexpr const char* kPort = "\\\\.\\COM3";

    void Open(int outSize = 64, int options = sio::optDtrLevel) {
        ASSERT_EQ(d->OpenAndStart(kPort, 9600, 0, 8, 1, 40960, outSize, options), 0);
    }

    // A window registered the way the component registers its hidden one.
    sio::WindowHandle AddWindow(FakeOwnerLink::WindowProc proc) {
        const sio::WindowHandle window = link.AddWindow(std::move(proc));
        d->AddWindowHandler(window);
        d->UpdateServiceFlags(1);
        return window;
    }

    bool PumpUntil(const std::function<bool()>& done) { return link.PumpUntil(done); }

    // Lets n further dispatch passes run (each reads the modem lines once).
    bool LetPassesRun(int n) {
        const int target = d->PassCount() + n;
        return PumpUntil([&] { return d->PassCount() >= target; });
    }

    std::string TakeAll() {
        std::string taken;
        char b;
        while (d->TakeByte(b) == 0) taken += b;
        return taken;
    }

    static std::string Bytes(int n, int first = 0) {
        std::string s;
        for (int i = 0; i < n; ++i) s += static_cast<char>((first + i) % 251);
        return s;
    }

    FakeOwnerLink link;  // first: the dispatcher is destroyed while it is installed
    std::unique_ptr<FakeDispatcher> d = std::make_unique<FakeDispatcher>();
};
