#include "fake_owner.h"

#include <chrono>

using namespace sio;

FakeOwnerLink::FakeOwnerLink() : owner_(std::this_thread::get_id()) { InstallMessageLink(this); }

FakeOwnerLink::~FakeOwnerLink() { InstallMessageLink(nullptr); }

WindowHandle FakeOwnerLink::AddWindow(WindowProc proc) {
    std::lock_guard lock(mutex_);
    windows_[nextWindow_] = std::move(proc);
    return nextWindow_++;
}

void FakeOwnerLink::RemoveWindow(WindowHandle window) {
    std::lock_guard lock(mutex_);
    windows_.erase(window);
}

std::shared_ptr<FakeOwnerLink::Task> FakeOwnerLink::Queue(std::function<void()> call) {
    auto task = std::make_shared<Task>();
    task->call = std::move(call);
    std::lock_guard lock(mutex_);
    queue_.push_back(task);
    changed_.notify_all();
    return task;
}

bool FakeOwnerLink::SendMessageTimeout(WindowHandle window, unsigned msg, WParam wParam, LParam lParam,
                                       int timeoutMs) {
    WindowProc proc;
    {
        std::lock_guard lock(mutex_);
        auto it = windows_.find(window);
        if (it == windows_.end()) return false;
        proc = it->second;
    }
    if (std::this_thread::get_id() == owner_) {
        proc(msg, wParam, lParam);
        return true;
    }
    auto task = Queue([=] { proc(msg, wParam, lParam); });
    std::unique_lock lock(mutex_);
    if (changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return task->done; })) return true;
    if (!task->started) task->abandoned = true;
    ++abandoned_;
    return false;
}

bool FakeOwnerLink::PostMessage(WindowHandle window, unsigned msg, WParam wParam, LParam lParam) {
    WindowProc proc;
    {
        std::lock_guard lock(mutex_);
        auto it = windows_.find(window);
        if (it == windows_.end()) return false;
        proc = it->second;
    }
    Queue([=] { proc(msg, wParam, lParam); });
    return true;
}

void FakeOwnerLink::PumpOnce() {
    std::deque<std::shared_ptr<Task>> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(queue_);
    }
    for (auto& task : batch) {
        {
            std::lock_guard lock(mutex_);
            if (task->abandoned) continue;
            task->started = true;
        }
        task->call();
        std::lock_guard lock(mutex_);
        task->done = true;
        changed_.notify_all();
    }
}

void FakeOwnerLink::RunOnOwnerThread(const std::function<void()>& call) {
    if (std::this_thread::get_id() == owner_) {
        call();
        return;
    }
    auto task = Queue(call);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return task->done; });
}

void FakeOwnerLink::ReportWorkerException(const std::string& message) {
    std::lock_guard lock(mutex_);
    reports_.push_back(message);
}

bool FakeOwnerLink::PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        PumpOnce();
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(2), [&] { return !queue_.empty(); });
    }
}

bool FakeOwnerLink::WaitForQueuedMessage(int timeoutMs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !queue_.empty(); });
}

std::vector<std::string> FakeOwnerLink::Reports() {
    std::lock_guard lock(mutex_);
    return reports_;
}

int FakeOwnerLink::AbandonedSends() {
    std::lock_guard lock(mutex_);
    return abandoned_;
}
