#include "app/toolkit/win32/application.h"

#include "app/toolkit/exception_report.h"

#include <commctrl.h>

#include <cstdio>
#include <map>
#include <memory>
#include <vector>

namespace w32tk {

namespace {

constexpr UINT kShowReport = WM_APP + 1;
constexpr wchar_t kContainerClass[] = L"MastercardWriterContainer";
constexpr wchar_t kFormClass[] = L"MastercardWriterForm";
constexpr wchar_t kReportClass[] = L"MastercardWriterReport";

// Everything below belongs to the main thread; other threads only post to
// the report window.
DWORD mainThread = 0;
HWND reportWindow = nullptr;
HFONT font = nullptr;
int modalBoxes = 0;
int lastIdleHandler = 0;
std::map<int, std::function<void()>> idleHandlers;
std::map<HWND, KeyHandler> keyHandlers;
ExceptionShower exceptionShower;

void ShowReport(const std::string& message) {
    if (exceptionShower) {
        exceptionShower(message);
        return;
    }
    const ModalScope modal;
    MessageBoxW(GetActiveWindow(), Wide(message).c_str(), ApplicationName().c_str(),
                MB_OK | MB_ICONERROR | MB_APPLMODAL);
}

LRESULT CALLBACK ReportProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kShowReport) {
        const std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(lParam));
        ShowReport(*text);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK ContainerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (HandleParentMessage(window, message, wParam, lParam, result)) return result;
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterClass(const wchar_t* name, WNDPROC procedure, UINT style) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = style;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = name;
    // The executable's icon resource 1, where it has one.
    windowClass.hIcon = LoadIconW(windowClass.hInstance, MAKEINTRESOURCEW(1));
    if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        std::fprintf(stderr, "RegisterClassExW failed: %s\n", SystemErrorText(GetLastError()).c_str());
}

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (HandleParentMessage(window, message, wParam, lParam, result)) return result;
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        RemoveKeyHandler(window);
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

// One message: the window's own keys, then the dialog manager's (mnemonics,
// Space on a button), then the window procedure.
void Dispatch(MSG& message) {
    const HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    const auto handler = keyHandlers.find(root);
    if (handler != keyHandlers.end()) {
        if (handler->second(message)) return;
        if (IsDialogMessageW(root, &message)) return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

constexpr UINT kListItemHeight = 15;

// One item of a drop-down list, or its closed box's text (itemID -1 when the
// list is empty or nothing is chosen).
void DrawListItem(const DRAWITEMSTRUCT& item) {
    const bool selected = item.itemState & ODS_SELECTED;
    const bool disabled = item.itemState & ODS_DISABLED;
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    if (item.itemID != static_cast<UINT>(-1)) {
        const auto length = SendMessageW(item.hwndItem, CB_GETLBTEXTLEN, item.itemID, 0);
        if (length != CB_ERR) {
            std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
            SendMessageW(item.hwndItem, CB_GETLBTEXT, item.itemID, reinterpret_cast<LPARAM>(text.data()));
            text.resize(static_cast<std::size_t>(length));
            const HGDIOBJ old = SelectObject(item.hDC, WindowFont());
            SetBkMode(item.hDC, TRANSPARENT);
            SetTextColor(item.hDC, GetSysColor(disabled   ? COLOR_GRAYTEXT
                                               : selected ? COLOR_HIGHLIGHTTEXT
                                                          : COLOR_WINDOWTEXT));
            RECT place = item.rcItem;
            place.left += 2;
            DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &place,
                      DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
            SelectObject(item.hDC, old);
        }
    }
    if (item.itemState & ODS_FOCUS) DrawFocusRect(item.hDC, &item.rcItem);
}

void RunIdleHandlers() {
    // A handler may remove one, or show a box: the ones to run are taken first.
    std::vector<std::function<void()>> handlers;
    for (const auto& entry : idleHandlers) handlers.push_back(entry.second);
    for (const auto& handler : handlers) handler();
}

}  // namespace

void InitApplication() {
    mainThread = GetCurrentThreadId();
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    RegisterClass(kContainerClass, ContainerProc, CS_HREDRAW | CS_VREDRAW);
    RegisterClass(kFormClass, FormProc, 0);
    RegisterClass(kReportClass, ReportProc, 0);
    reportWindow = CreateWindowExW(0, kReportClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
    // 9 pt (12 pixels at 96 dpi), the size Chinese Windows shows the
    // design's 8 pt sans captions at; SimSun is the face it uses for them.
    font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"SimSun");
}

int RunMessageLoop() {
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) return static_cast<int>(message.wParam);
            Dispatch(message);
        }
        RunIdleHandlers();
        // Sleeps until a message arrives that was not there at the last look.
        WaitMessage();
    }
}

bool PumpPendingMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return true;
        }
        Dispatch(message);
    }
    return false;
}

void RunUntilIdle() {
    PumpPendingMessages();
    RunIdleHandlers();
}

int AddIdleHandler(std::function<void()> handler) {
    idleHandlers[++lastIdleHandler] = std::move(handler);
    return lastIdleHandler;
}

void RemoveIdleHandler(int id) { idleHandlers.erase(id); }

ModalScope::ModalScope() { ++modalBoxes; }
ModalScope::~ModalScope() { --modalBoxes; }
bool ModalBoxUp() { return modalBoxes > 0; }

void SetKeyHandler(HWND window, KeyHandler handler) { keyHandlers[window] = std::move(handler); }
void RemoveKeyHandler(HWND window) { keyHandlers.erase(window); }

HFONT WindowFont() { return font; }
const wchar_t* ContainerClass() { return kContainerClass; }
const wchar_t* FormClass() { return kFormClass; }

void SetCommandTarget(HWND control, CommandTarget* target) {
    SetWindowLongPtrW(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(target));
}

bool HandleParentMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_COMMAND: {
        const auto control = reinterpret_cast<HWND>(lParam);
        if (control == nullptr) return false;
        auto* target = reinterpret_cast<CommandTarget*>(GetWindowLongPtrW(control, GWLP_USERDATA));
        if (target == nullptr) return false;
        target->OnCommand(HIWORD(wParam));
        result = 0;
        return true;
    }
    case WM_MEASUREITEM: {
        // The drop-down lists' items, in the window font.
        auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (item->CtlType != ODT_COMBOBOX) return false;
        item->itemHeight = kListItemHeight;
        result = TRUE;
        return true;
    }
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlType != ODT_COMBOBOX) return false;
        DrawListItem(*item);
        result = TRUE;
        return true;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        // Labels, check boxes, options and frames on the button face.
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
        result = reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        return true;
    default:
        return false;
    }
}

void SetExceptionShower(ExceptionShower shower) { exceptionShower = std::move(shower); }

std::wstring ApplicationName() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, length);
    const auto slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    if (name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".exe") == 0)
        name.resize(name.size() - 4);
    return name;
}

}  // namespace w32tk

void ReportException(const std::exception& error) { ReportExceptionMessage(error.what()); }

void ReportExceptionMessage(std::string_view message) {
    using namespace w32tk;
    if (mainThread == 0) {
        std::fprintf(stderr, "Unreported exception: %.*s\n", static_cast<int>(message.size()),
                     message.data());
        return;
    }
    if (GetCurrentThreadId() == mainThread) {
        ShowReport(std::string(message));
        return;
    }
    // A worker never waits for the operator: the report is posted.
    auto text = std::make_unique<std::string>(message);
    if (PostMessageW(reportWindow, kShowReport, 0, reinterpret_cast<LPARAM>(text.get())))
        text.release();
    else
        std::fprintf(stderr, "Unreported exception: %s\n", text->c_str());
}
