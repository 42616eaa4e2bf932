// A stand-in for the window-message layer: the test thread is the owner
// thread, windows are procedures in a table, and sent or posted messages
// wait in a queue until the test pumps it.
#pragma once

#include "serial/core/message_link.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeOwnerLink : public sio::MessageLink {
public:
    using WindowProc = std::function<void(unsigned msg, sio::WParam, sio::LParam)>;

    FakeOwnerLink();  // installs itself; the constructing thread is the owner
    ~FakeOwnerLink() override;

    sio::WindowHandle AddWindow(WindowProc proc);
    void RemoveWindow(sio::WindowHandle window);

    // Pumps until done() holds; false if it did not within timeoutMs (a
    // guard against a hang, not a timing assumption).
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000);

    // Waits, without handling it, until a message is queued for the owner.
    bool WaitForQueuedMessage(int timeoutMs = 10000);

    std::vector<std::string> Reports();
    int AbandonedSends();

    bool SendMessageTimeout(sio::WindowHandle window, unsigned msg, sio::WParam wParam,
                            sio::LParam lParam, int timeoutMs) override;
    bool PostMessage(sio::WindowHandle window, unsigned msg, sio::WParam wParam,
                     sio::LParam lParam) override;
    void PumpOnce() override;
    void RunOnOwnerThread(const std::function<void()>& call) override;
    void ReportWorkerException(const std::string& message) override;

private:
    struct Task {
        std::function<void()> call;
        bool started = false;
        bool done = false;
        bool abandoned = false;
    };
    std::shared_ptr<Task> Queue(std::function<void()> call);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<Task>> queue_;
    std::map<sio::WindowHandle, WindowProc> windows_;
    sio::WindowHandle nextWindow_ = 1;
    std::vector<std::string> reports_;
    int abandoned_ = 0;
    std::thread::id owner_;
};
