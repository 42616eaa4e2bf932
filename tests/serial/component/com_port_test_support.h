// Shared set-up of the component tests: a Qt event loop on the test thread
// (the thread that opens the port), the real window-message layer, and
// helpers to wait on conditions while that loop runs.
#pragma once

#include "fake_device.h"
#include "serial/component/com_port.h"
#include "serial/errors/errors.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

// Runs the event loop until done() holds; false after timeoutMs, which is a
// guard against a hang, not a timing assumption.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000);
// Handles whatever is queued now.
void PumpPending();
// Creates the application object and installs the window-message layer once.
void EnsureEventLoop();

std::string Bytes(int n, int first = 0);

template <typename E>
void ExpectRaised(const std::function<void()>& action, int code, const char* message) {
    try {
        action();
        ADD_FAILURE() << "nothing was raised, expected " << message;
    } catch (const E& e) {
        EXPECT_EQ(e.ErrorCode, code);
        EXPECT_STREQ(e.what(), message);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "raised the wrong class: " << e.what();
    }
}

// A component whose dispatchers run on the in-memory device.
class ComPortFakeTest : public ::testing::Test {
protected:
    ComPortFakeTest();
    ~ComPortFakeTest() override;

    void OpenPort();
    // The settings the main window's design gives its port.
    void ConfigureAsMainWindow();
    FakeDispatcher& Device();

    sio::TSioComPort port;
    int created = 0;           // dispatchers made by the factory
    int nextOpenResult = 3;    // what the next device open answers
};
