// The window-message layer on Windows: each hidden notification window is a
// real message-only window (HWND_MESSAGE) of the class "sioComWindow",
// registered once per process with 4 bytes of per-window space that hold the
// window's id. Notices are sent with SendMessageTimeout and closes posted;
// the rest of the component knows a window only by that id, so a stale
// handle is recognised, never dereferenced.
#include "serial/notify/notify_window.h"

#include <windows.h>
#undef PostMessage
#undef SendMessageTimeout

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace sio {

namespace {

constexpr char kWindowClass[] = "sioComWindow";
// Private messages of the owner thread's own window.
constexpr UINT kRunCall = WM_APP + 1;      // wParam: the call to run
constexpr UINT kShowFailure = WM_APP + 2;  // wParam: a worker's message (owned by the receiver)

// One sent notice. A sender that gave up marks it abandoned, and a notice
// that arrives late then does nothing, as a send that timed out must not
// run after its sender went on.
struct SendTicket {
    enum State { Pending, Running, Abandoned };
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    std::atomic<int> state{Pending};
};

struct WindowEntry {
    HWND hwnd = nullptr;
    WindowProc proc;
    std::shared_ptr<SendTicket> pending;  // the send under way, if any
};

// Guards every field below it.
std::mutex registryLock;
std::unordered_map<WindowHandle, WindowEntry> registry;
WindowHandle nextHandle = 1;
std::function<void(const std::string&)> exceptionReporter;
HWND ownerWindow = nullptr;  // the owner thread's window for calls and reports
DWORD ownerThread = 0;

bool IsComponentMessage(UINT msg) { return msg >= 0x7E01 && msg <= 0x7E0A; }

LRESULT CALLBACK NotifyWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kRunCall && hwnd == ownerWindow) {
        (*reinterpret_cast<const std::function<void()>*>(wParam))();
        return 0;
    }
    if (msg == kShowFailure && hwnd == ownerWindow) {
        std::unique_ptr<std::string> message(reinterpret_cast<std::string*>(wParam));
        std::function<void(const std::string&)> reporter;
        {
            std::lock_guard lock(registryLock);
            reporter = exceptionReporter;
        }
        if (reporter)
            reporter(*message);
        else
            std::fprintf(stderr, "serial worker: %s\n", message->c_str());
        return 0;
    }
    if (!IsComponentMessage(msg)) return DefWindowProcA(hwnd, msg, wParam, lParam);

    const auto id = static_cast<WindowHandle>(GetWindowLongA(hwnd, 0));
    WindowProc proc;
    std::shared_ptr<SendTicket> ticket;
    {
        std::lock_guard lock(registryLock);
        auto it = registry.find(id);
        if (it == registry.end() || !it->second.proc) return 0;
        proc = it->second.proc;
        ticket = it->second.pending;
    }
    // Notices (0x7E01 to 0x7E04) are always sent, closes always posted. A
    // notice runs only for the send that waits for it: one whose sender gave
    // up arrives without its ticket and does nothing.
    const bool notice = msg <= 0x7E04;
    if (notice) {
        if (!ticket || ticket->msg != msg || ticket->wParam != wParam || ticket->lParam != lParam) return 0;
        int expected = SendTicket::Pending;
        if (!ticket->state.compare_exchange_strong(expected, SendTicket::Running)) return 0;
    }
    return proc(msg, wParam, lParam);
}

void RegisterWindowClass() {
    static std::once_flag registered;
    std::call_once(registered, [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = NotifyWindowProc;
        wc.cbWndExtra = 4;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kWindowClass;
        RegisterClassA(&wc);
    });
}

HWND CreateMessageWindow() {
    RegisterWindowClass();
    return CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr),
                           nullptr);
}

HWND WindowOf(WindowHandle window) {
    std::lock_guard lock(registryLock);
    auto it = registry.find(window);
    return it == registry.end() ? nullptr : it->second.hwnd;
}

class Win32Link final : public MessageLink {
public:
    bool SendMessageTimeout(WindowHandle window, unsigned msg, WParam wParam, LParam lParam,
                            int timeoutMs) override {
        auto ticket = std::make_shared<SendTicket>();
        ticket->msg = msg;
        ticket->wParam = wParam;
        ticket->lParam = lParam;
        HWND hwnd;
        {
            std::lock_guard lock(registryLock);
            auto it = registry.find(window);
            if (it == registry.end()) return false;
            hwnd = it->second.hwnd;
            it->second.pending = ticket;
        }
        DWORD_PTR result = 0;
        const LRESULT sent = ::SendMessageTimeoutA(hwnd, msg, wParam, lParam, SMTO_NORMAL,
                                                    static_cast<UINT>(timeoutMs), &result);
        int expected = SendTicket::Pending;
        const bool neverStarted = ticket->state.compare_exchange_strong(expected, SendTicket::Abandoned);
        {
            std::lock_guard lock(registryLock);
            auto it = registry.find(window);
            if (it != registry.end() && it->second.pending == ticket) it->second.pending.reset();
        }
        return sent != 0 && !neverStarted;
    }

    bool PostMessage(WindowHandle window, unsigned msg, WParam wParam, LParam lParam) override {
        HWND hwnd = WindowOf(window);
        return hwnd != nullptr && ::PostMessageA(hwnd, msg, wParam, lParam) != 0;
    }

    // One message, as a waiting owner handles its queue between looks: a
    // message that re-posts itself (a deferred close waiting for workers)
    // cannot keep the caller here. Sent messages are handled on the way.
    void PumpOnce() override {
        MSG m;
        if (!::PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) return;
        if (m.message == WM_QUIT) {
            // The program's own loop must still see it.
            ::PostQuitMessage(static_cast<int>(m.wParam));
            return;
        }
        ::TranslateMessage(&m);
        ::DispatchMessageA(&m);
    }

    void RunOnOwnerThread(const std::function<void()>& call) override {
        HWND owner;
        {
            std::lock_guard lock(registryLock);
            owner = ownerWindow;
        }
        if (owner == nullptr || ::GetCurrentThreadId() == ownerThread) {
            call();
            return;
        }
        ::SendMessageA(owner, kRunCall, reinterpret_cast<WPARAM>(&call), 0);
    }

    void ReportWorkerException(const std::string& message) override {
        HWND owner;
        {
            std::lock_guard lock(registryLock);
            owner = ownerWindow;
        }
        auto text = std::make_unique<std::string>(message);
        if (owner != nullptr && ::PostMessageA(owner, kShowFailure, reinterpret_cast<WPARAM>(text.get()), 0)) {
            text.release();  // the owner's window frees it
            return;
        }
        std::fprintf(stderr, "serial worker: %s\n", message.c_str());
    }
};

Win32Link win32Link;

}  // namespace

WindowHandle CreateNotifyWindow(WindowProc proc) {
    HWND hwnd = CreateMessageWindow();
    if (hwnd == nullptr) return 0;
    std::lock_guard lock(registryLock);
    const WindowHandle id = nextHandle++;
    if (nextHandle == 0) nextHandle = 1;
    SetWindowLongA(hwnd, 0, static_cast<LONG>(id));
    registry[id] = WindowEntry{hwnd, std::move(proc), nullptr};
    return id;
}

void DestroyNotifyWindow(WindowHandle window) {
    HWND hwnd = nullptr;
    {
        std::lock_guard lock(registryLock);
        auto it = registry.find(window);
        if (it == registry.end()) return;
        hwnd = it->second.hwnd;
        if (it->second.pending) it->second.pending->state = SendTicket::Abandoned;
        registry.erase(it);
    }
    // Senders still waiting for this window are released by its end.
    ::DestroyWindow(hwnd);
}

bool IsNotifyWindow(WindowHandle window) {
    std::lock_guard lock(registryLock);
    return registry.count(window) != 0;
}

void SetWorkerExceptionReporter(std::function<void(const std::string&)> reporter) {
    std::lock_guard lock(registryLock);
    exceptionReporter = std::move(reporter);
}

void InstallNotifyLink() {
    HWND owner = CreateMessageWindow();
    {
        std::lock_guard lock(registryLock);
        ownerWindow = owner;
        ownerThread = ::GetCurrentThreadId();
    }
    InstallMessageLink(&win32Link);
}

void UninstallNotifyLink() {
    InstallMessageLink(nullptr);
    HWND owner;
    {
        std::lock_guard lock(registryLock);
        owner = ownerWindow;
        ownerWindow = nullptr;
    }
    if (owner != nullptr) ::DestroyWindow(owner);
}

}  // namespace sio
