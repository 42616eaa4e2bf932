#include "serial/notify/notify_window.h"

#include "serial/core/sync_event.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <QtGlobal>

#include <chrono>
#include <exception>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace sio {

namespace {

// The completion of one sent message, shared by the sender and the event.
struct SendState {
    std::mutex mutex;
    std::condition_variable finished;
    bool started = false;
    bool done = false;       // ran, or will never run
    bool handled = false;    // the procedure ran to its end
    bool abandoned = false;  // the sender gave up: do nothing if it runs late
};

// Guards the registry. It is also taken around posting and before reading
// an event, which orders the sender's writes before the window's reads in
// a way the thread checker can see through Qt's own queue.
std::mutex registryMutex;

class NotifyObject;
std::unordered_map<WindowHandle, NotifyObject*> registry;
WindowHandle nextHandle = 1;
WindowHandle ownerWindow = 0;
std::function<void(const std::string&)> exceptionReporter;

QEvent::Type MessageEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

class MessageEvent final : public QEvent {
public:
    MessageEvent(unsigned msg, WParam wParam, LParam lParam, std::shared_ptr<SendState> state,
                 std::function<void()> call)
        : QEvent(MessageEventType()),
          Msg(msg),
          WParamValue(wParam),
          LParamValue(lParam),
          State(std::move(state)),
          Call(std::move(call)) {}

    // A discarded event (its window destroyed, the loop gone) never leaves
    // its sender waiting.
    ~MessageEvent() override {
        { std::lock_guard order(registryMutex); }
        if (!State) return;
        std::lock_guard lock(State->mutex);
        State->done = true;
        State->finished.notify_all();
    }

    const unsigned Msg;
    const WParam WParamValue;
    const LParam LParamValue;
    const std::shared_ptr<SendState> State;
    const std::function<void()> Call;
};

class NotifyObject final : public QObject {
public:
    explicit NotifyObject(WindowProc proc) : proc_(std::move(proc)) {}

    // An exception must not cross Qt's event loop; the component's own
    // window procedure catches what it expects, this is the last net.
    LParam Deliver(unsigned msg, WParam wParam, LParam lParam) {
        try {
            return proc_ ? proc_(msg, wParam, lParam) : 0;
        } catch (const std::exception& e) {
            CurrentMessageLink().ReportWorkerException(e.what());
        }
        return 0;
    }

    bool event(QEvent* e) override {
        // Taken before the event is looked at: the poster built it under
        // this lock (see registryMutex).
        { std::lock_guard order(registryMutex); }
        if (e->type() != MessageEventType()) return QObject::event(e);
        auto* message = static_cast<MessageEvent*>(e);
        if (message->State) {
            std::lock_guard lock(message->State->mutex);
            if (message->State->abandoned) return true;
            message->State->started = true;
        }
        if (message->Call)
            message->Call();
        else
            Deliver(message->Msg, message->WParamValue, message->LParamValue);
        if (message->State) {
            std::lock_guard lock(message->State->mutex);
            message->State->handled = true;
            message->State->done = true;
            message->State->finished.notify_all();
        }
        return true;
    }

private:
    WindowProc proc_;
};

// Posts a message (and, for a send, returns the state to wait on). Returns
// false for a stale window. A send on the window's own thread runs at once,
// as a same-thread send does on the platform the design comes from.
enum class Route { Stale, Posted, Direct };

Route Post(WindowHandle window, unsigned msg, WParam wParam, LParam lParam,
           const std::shared_ptr<SendState>& state, std::function<void()> call, NotifyObject** direct) {
    std::lock_guard lock(registryMutex);
    auto it = registry.find(window);
    if (it == registry.end()) return Route::Stale;
    if (state && it->second->thread() == QThread::currentThread()) {
        *direct = it->second;
        return Route::Direct;
    }
    QCoreApplication::postEvent(it->second, new MessageEvent(msg, wParam, lParam, state, std::move(call)));
    return Route::Posted;
}

bool Send(WindowHandle window, unsigned msg, WParam wParam, LParam lParam, std::function<void()> call,
          int timeoutMs) {
    auto state = std::make_shared<SendState>();
    NotifyObject* direct = nullptr;
    switch (Post(window, msg, wParam, lParam, state, call, &direct)) {
    case Route::Stale:
        return false;
    case Route::Direct:
        if (call)
            call();
        else
            direct->Deliver(msg, wParam, lParam);
        return true;
    case Route::Posted:
        break;
    }
    std::unique_lock lock(state->mutex);
    if (timeoutMs == kInfinite) {
        state->finished.wait(lock, [&] { return state->done; });
    } else if (!state->finished.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                         [&] { return state->done; })) {
        if (!state->started) state->abandoned = true;
        return false;
    }
    return state->handled;
}

class QtMessageLink final : public MessageLink {
public:
    bool SendMessageTimeout(WindowHandle window, unsigned msg, WParam wParam, LParam lParam,
                            int timeoutMs) override {
        return Send(window, msg, wParam, lParam, {}, timeoutMs);
    }

    bool PostMessage(WindowHandle window, unsigned msg, WParam wParam, LParam lParam) override {
        return Post(window, msg, wParam, lParam, nullptr, {}, nullptr) == Route::Posted;
    }

    void PumpOnce() override {
        if (QCoreApplication::instance()) QCoreApplication::processEvents();
    }

    void RunOnOwnerThread(const std::function<void()>& call) override {
        WindowHandle owner;
        {
            std::lock_guard lock(registryMutex);
            owner = ownerWindow;
        }
        if (!Send(owner, 0, 0, 0, call, kInfinite) && !IsNotifyWindow(owner)) call();
    }

    void ReportWorkerException(const std::string& message) override {
        WindowHandle owner;
        {
            std::lock_guard lock(registryMutex);
            owner = ownerWindow;
        }
        auto report = [message] {
            std::function<void(const std::string&)> reporter;
            {
                std::lock_guard lock(registryMutex);
                reporter = exceptionReporter;
            }
            if (reporter)
                reporter(message);
            else
                qWarning("serial worker: %s", message.c_str());
        };
        if (Post(owner, 0, 0, 0, nullptr, report, nullptr) != Route::Posted) report();
    }
};

QtMessageLink qtLink;

}  // namespace

WindowHandle CreateNotifyWindow(WindowProc proc) {
    auto* object = new NotifyObject(std::move(proc));
    std::lock_guard lock(registryMutex);
    const WindowHandle handle = nextHandle++;
    registry[handle] = object;
    return handle;
}

void DestroyNotifyWindow(WindowHandle window) {
    NotifyObject* object = nullptr;
    {
        std::lock_guard lock(registryMutex);
        auto it = registry.find(window);
        if (it == registry.end()) return;
        object = it->second;
        registry.erase(it);
    }
    // Qt drops the events still queued for the object; each releases its sender.
    delete object;
}

bool IsNotifyWindow(WindowHandle window) {
    std::lock_guard lock(registryMutex);
    return registry.count(window) != 0;
}

void SetWorkerExceptionReporter(std::function<void(const std::string&)> reporter) {
    std::lock_guard lock(registryMutex);
    exceptionReporter = std::move(reporter);
}

void InstallQtMessageLink() {
    if (!IsNotifyWindow(ownerWindow)) {
        const WindowHandle owner = CreateNotifyWindow({});
        std::lock_guard lock(registryMutex);
        ownerWindow = owner;
    }
    InstallMessageLink(&qtLink);
}

void UninstallQtMessageLink() {
    InstallMessageLink(nullptr);
    WindowHandle owner;
    {
        std::lock_guard lock(registryMutex);
        owner = ownerWindow;
        ownerWindow = 0;
    }
    DestroyNotifyWindow(owner);
}

}  // namespace sio

namespace sio {

void InstallNotifyLink() { InstallQtMessageLink(); }
void UninstallNotifyLink() { UninstallQtMessageLink(); }

}  // namespace sio
