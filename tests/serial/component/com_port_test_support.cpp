#include "com_port_test_support.h"

#include "serial/notify/notify_window.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdlib>
#include <memory>

using namespace sio;

void EnsureEventLoop() {
    static int argc = 1;
    static char name[] = "serial_component_tests";
    static char* argv[] = {name, nullptr};
    static auto* app = new QCoreApplication(argc, argv);  // lives for the whole run
    (void)app;
    static bool installed = [] {
        InstallQtMessageLink();
        std::atexit([] { UninstallQtMessageLink(); });
        return true;
    }();
    (void)installed;
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    // Conditions that change on a worker thread raise no event here: a short
    // guard timer wakes the loop to look again.
    QTimer guard;
    guard.start(5);
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void PumpPending() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

std::string Bytes(int n, int first) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>((first + i) % 251);
    return s;
}

ComPortFakeTest::ComPortFakeTest() {
    EnsureEventLoop();
    port.DispatcherFactory = [this](TSioCustomComPort& owner) {
        auto dispatcher = std::make_unique<FakeDispatcher>(&owner);
        dispatcher->SetOpenResult(nextOpenResult);
        ++created;
        return std::unique_ptr<TSioBaseDispatcher>(std::move(dispatcher));
    };
    port.SetComNumber(3);
    port.SetAutoOpen(false);
}

ComPortFakeTest::~ComPortFakeTest() {
    port.SetOnTrigger({});
    if (port.Phase() == phOpen) port.SetOpen(false);
    PumpUntil([&] { return port.Phase() == phClosed; });
}

void ComPortFakeTest::OpenPort() {
    port.SetOpen(true);
    ASSERT_EQ(port.Phase(), phOpen);
}

void ComPortFakeTest::ConfigureAsMainWindow() {
    port.SetBaud(9600);
    port.SetInSize(40960);
    port.SetOutSize(40960);
    port.SetAutoOpen(false);
    port.SetRTS(false);
    port.SetBufferFull(35748);
    port.SetBufferResume(10240);
    port.SetTraceName("SIOP.TRC");
    port.SetLogName("SIOP.LOG");
    port.SetRS485Mode(true);
}

FakeDispatcher& ComPortFakeTest::Device() { return *static_cast<FakeDispatcher*>(port.ActiveDispatcher()); }
