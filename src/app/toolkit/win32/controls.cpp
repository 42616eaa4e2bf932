#include "app/toolkit/win32/controls.h"

#include "app/toolkit/exception_report.h"

#include <commctrl.h>

#include <stdexcept>

namespace w32tk {

namespace {

constexpr wchar_t kEdgeProperty[] = L"MastercardWriterEdge";

// Runs a handler the way the toolkit calls every handler: an exception is
// reported here.
void Run(const std::function<void()>& handler) {
    if (handler) Guarded([&handler] { handler(); })();
}

LRESULT CALLBACK PanelEdgeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                               UINT_PTR, DWORD_PTR) {
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        DrawEdge(dc, &client, static_cast<UINT>(reinterpret_cast<UINT_PTR>(GetPropW(window, kEdgeProperty))),
                 BF_RECT);
        EndPaint(window, &paint);
        return 0;
    }
    if (message == WM_NCDESTROY) RemovePropW(window, kEdgeProperty);
    return DefSubclassProc(window, message, wParam, lParam);
}

HWND MakeContainer(const TControlDesign& design, HWND parent) {
    // A container of its own for the keyboard: Tab and mnemonics reach
    // the controls inside.
    return MakeChild(ContainerClass(), "", 0, WS_EX_CONTROLPARENT, design.Bounds, parent);
}

HWND MakeFrame(const TControlDesign& design, HWND container) {
    return MakeChild(L"BUTTON", design.Text, BS_GROUPBOX, 0,
                     {0, 0, design.Bounds.Width, design.Bounds.Height}, container);
}

bool IsChecked(HWND button) { return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void SetCheck(HWND button, bool checked) {
    SendMessageW(button, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

class StatusPanel : public TStatusPanel {
public:
    StatusPanel(HWND bar, int index) : bar_(bar), index_(index) {}
    std::string Text() const override {
        const auto length = LOWORD(SendMessageW(bar_, SB_GETTEXTLENGTHW, index_, 0));
        std::wstring text(length + 1u, L'\0');
        SendMessageW(bar_, SB_GETTEXTW, index_, reinterpret_cast<LPARAM>(text.data()));
        text.resize(length);
        return Utf8(text);
    }
    void SetText(const std::string& text) override {
        SendMessageW(bar_, SB_SETTEXTW, index_, reinterpret_cast<LPARAM>(Wide(text).c_str()));
    }

private:
    HWND bar_;
    int index_;
};

}  // namespace

HWND MakeChild(const wchar_t* windowClass, const std::string& text, DWORD style, DWORD exStyle,
               const TRect& bounds, HWND parent) {
    HWND child = CreateWindowExW(exStyle, windowClass, Wide(text).c_str(),
                                 WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, bounds.Left,
                                 bounds.Top, bounds.Width, bounds.Height, parent, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    if (child == nullptr)
        throw std::runtime_error("CreateWindowExW failed: " + SystemErrorText(GetLastError()));
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);
    SetWindowPos(child, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return child;
}

TRect BoundsOf(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(window), reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

namespace {

constexpr wchar_t kOwnDisabledProperty[] = L"sioOwnDisabled";

// Brings a window's enabled state in line with its own and its containers'.
BOOL CALLBACK FollowContainers(HWND window, LPARAM) {
    const bool enabled = EffectivelyEnabled(window);
    if ((IsWindowEnabled(window) != FALSE) != enabled) EnableWindow(window, enabled);
    return TRUE;
}

}  // namespace

bool EffectivelyEnabled(HWND window) {
    for (HWND w = window; w != nullptr; w = GetParent(w)) {
        if (GetPropW(w, kOwnDisabledProperty) != nullptr) return false;
        if (!(GetWindowLongW(w, GWL_STYLE) & WS_CHILD)) break;
    }
    return true;
}

void SetOwnEnabled(HWND window, bool enabled) {
    if (enabled)
        RemovePropW(window, kOwnDisabledProperty);
    else
        SetPropW(window, kOwnDisabledProperty, reinterpret_cast<HANDLE>(1));
    FollowContainers(window, 0);
    EnumChildWindows(window, FollowContainers, 0);  // every window below it, at any depth
}

Panel::Panel(const TControlDesign& design, TControl* parent, HWND parentWindow)
    : Control(design, parent, MakeContainer(design, parentWindow)) {
    SetPropW(Handle(), kEdgeProperty,
             reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(design.Sunken ? BDR_SUNKENOUTER : BDR_RAISEDINNER)));
    SetWindowSubclass(Handle(), PanelEdgeProc, 1, 0);
}

GroupBox::GroupBox(const TControlDesign& design, TControl* parent, HWND parentWindow)
    : Control(design, parent, MakeContainer(design, parentWindow)), frame_(MakeFrame(design, Handle())) {}

Label::Label(const TControlDesign& design, TControl* parent, HWND parentWindow)
    : TextControl(design, parent,
                  MakeChild(L"STATIC", design.Text, SS_LEFTNOWORDWRAP | SS_CENTERIMAGE | SS_NOPREFIX,
                            0, design.Bounds, parentWindow)) {}

Button::Button(const TControlDesign& design, TControl* parent, HWND parentWindow)
    : TextControl(design, parent,
                  MakeChild(L"BUTTON", design.Text, BS_PUSHBUTTON | WS_TABSTOP, 0, design.Bounds,
                            parentWindow)) {
    SetCommandTarget(Handle(), this);
}

void Button::OnCommand(WORD code) {
    if (code == BN_CLICKED) Run(OnClick);
}

CheckBox::CheckBox(const TControlDesign& design, TControl* parent, HWND parentWindow)
    : TextControl(design, parent,
                  MakeChild(L"BUTTON", design.Text, BS_AUTOCHECKBOX | WS_TABSTOP, 0, design.Bounds,
                            parentWindow)) {
    SetCheck(Handle(), design.Checked);
    SetCommandTarget(Handle(), this);
}

bool CheckBox::Checked() const { return IsChecked(Handle()); }

void CheckBox::SetChecked(bool checked) {
    if (checked == Checked()) return;
    // BM_SETCHECK tells nobody; the handler runs on the program's changes too.
    SetCheck(Handle(), checked);
    Run(OnClick);
}

void CheckBox::OnCommand(WORD code) {
    if (code == BN_CLICKED) Run(OnClick);
}

RadioButton::RadioButton(const TControlDesign& design, TControl* parent, HWND parentWindow)
    : TextControl(design, parent,
                  MakeChild(L"BUTTON", design.Text, BS_RADIOBUTTON, 0, design.Bounds, parentWindow)) {
    if (design.Checked) SetChecked(true);
    SetCommandTarget(Handle(), this);
}

bool RadioButton::Checked() const { return IsChecked(Handle()); }

void RadioButton::SetChecked(bool checked) {
    if (checked) {
        for (HWND sibling = GetWindow(GetParent(Handle()), GW_CHILD); sibling != nullptr;
             sibling = GetWindow(sibling, GW_HWNDNEXT)) {
            if (sibling != Handle() &&
                (GetWindowLongW(sibling, GWL_STYLE) & BS_TYPEMASK) == BS_RADIOBUTTON)
                SetCheck(sibling, false);
        }
    }
    SetCheck(Handle(), checked);
}

void RadioButton::OnCommand(WORD code) {
    if (code == BN_CLICKED) SetChecked(true);
}

// Tells the group which of its options was clicked.
class RadioGroup::OptionTarget : public CommandTarget {
public:
    OptionTarget(RadioGroup& group, int index) : group_(group), index_(index) {}
    void OnCommand(WORD code) override {
        if (code == BN_CLICKED) group_.Choose(index_);
    }

private:
    RadioGroup& group_;
    int index_;
};

RadioGroup::RadioGroup(const TControlDesign& design, TControl* parent, HWND parentWindow)
    : Control(design, parent, MakeContainer(design, parentWindow)),
      frame_(MakeFrame(design, Handle())),
      columns_(std::max(1, design.Columns)) {
    for (std::size_t i = 0; i < design.Items.size(); ++i) {
        options_.push_back(MakeChild(L"BUTTON", design.Items[i], BS_RADIOBUTTON, 0, {}, Handle()));
        targets_.push_back(std::make_unique<OptionTarget>(*this, static_cast<int>(i)));
        SetCommandTarget(options_.back(), targets_.back().get());
    }
    ArrangeOptions();
    itemIndex_ = design.ItemIndex >= 0 && design.ItemIndex < Count() ? design.ItemIndex : -1;
    ShowChecked();
}

RadioGroup::~RadioGroup() {
    for (HWND option : options_) SetCommandTarget(option, nullptr);
}

void RadioGroup::SetItemIndex(int index) {
    if (index < 0 || index >= Count()) index = -1;
    if (index == itemIndex_) return;
    itemIndex_ = index;
    ShowChecked();
    Run(OnClick);
}

std::string RadioGroup::Items(int index) const { return WindowText(Option(index)); }

HWND RadioGroup::Option(int index) const { return options_.at(static_cast<std::size_t>(index)); }

void RadioGroup::Choose(int index) { SetItemIndex(index); }

void RadioGroup::ShowChecked() {
    for (std::size_t i = 0; i < options_.size(); ++i)
        SetCheck(options_[i], static_cast<int>(i) == itemIndex_);
}

// Options fill the columns top to bottom and share the height below the
// caption evenly, so a group keeps its familiar look at any size.
void RadioGroup::ArrangeOptions() {
    if (options_.empty()) return;
    HDC dc = GetDC(Handle());
    const HGDIOBJ old = SelectObject(dc, WindowFont());
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(Handle(), dc);
    const TRect bounds = BoundsRect();
    const int count = Count();
    const int perColumn = (count + columns_ - 1) / columns_;
    const int optionWidth = (bounds.Width - 10) / columns_;
    const int space = bounds.Height - metrics.tmHeight - 5;
    const int optionHeight = std::max(0, space / perColumn);
    const int topMargin = metrics.tmHeight + 1 + (space % perColumn) / 2;
    for (int i = 0; i < count; ++i) {
        MoveWindow(options_[static_cast<std::size_t>(i)], (i / perColumn) * optionWidth + 8,
                   (i % perColumn) * optionHeight + topMargin, optionWidth, optionHeight, FALSE);
    }
}

ComboBox::ComboBox(const TControlDesign& design, TControl* parent, HWND parentWindow)
    : Control(design, parent,
              // The height given here is the dropped list's; the closed box
              // takes its height from the font and is set below.
              MakeChild(L"COMBOBOX", "",
                        CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS | WS_VSCROLL | WS_TABSTOP, 0,
                        {design.Bounds.Left, design.Bounds.Top, design.Bounds.Width,
                         design.Bounds.Height + 8 * 16},
                        parentWindow)) {
    // A list that draws its own items may be as low as designed; the system
    // would keep a closed box at least as high as the font asks for.
    // The height read back need not be the one set (Wine adds its margin to
    // it), so the one set is corrected by what the box shows.
    auto itemHeight =
        static_cast<int>(SendMessageW(Handle(), CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int extra = design.Bounds.Height - BoundsRect().Height;
        if (extra == 0) break;
        itemHeight += extra;
        SendMessageW(Handle(), CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), itemHeight);
        // The box takes its new height at its next resize.
        SetWindowPos(Handle(), nullptr, 0, 0, design.Bounds.Width, design.Bounds.Height + 8 * 16,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SetCommandTarget(Handle(), this);
}

void ComboBox::Clear() { SendMessageW(Handle(), CB_RESETCONTENT, 0, 0); }

void ComboBox::AddItem(const std::string& item) {
    SendMessageW(Handle(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(item).c_str()));
}

int ComboBox::Count() const { return static_cast<int>(SendMessageW(Handle(), CB_GETCOUNT, 0, 0)); }

std::string ComboBox::Items(int index) const {
    const auto length = SendMessageW(Handle(), CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(Handle(), CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return Utf8(text);
}

int ComboBox::ItemIndex() const { return static_cast<int>(SendMessageW(Handle(), CB_GETCURSEL, 0, 0)); }

void ComboBox::SetItemIndex(int index) { SendMessageW(Handle(), CB_SETCURSEL, index, 0); }

void ComboBox::OnCommand(WORD code) {
    // A change of selection is sent for the operator's choices only.
    if (code == CBN_SELCHANGE) Run(OnChange);
}

Edit::Edit(const TControlDesign& design, TControl* parent, HWND parentWindow)
    : TextControl(design, parent,
                  MakeChild(L"EDIT", "", ES_AUTOHSCROLL | ES_UPPERCASE | WS_TABSTOP, WS_EX_CLIENTEDGE,
                            design.Bounds, parentWindow)),
      maxLength_(design.MaxLength) {
    if (maxLength_ > 0) SendMessageW(Handle(), EM_LIMITTEXT, maxLength_, 0);
    SetText(design.Text);
}

void Edit::SetText(const std::string& text) {
    // The limit and the capitals hold for what the operator types; the
    // program's own texts keep to them here.
    std::wstring wide = Wide(text);
    if (maxLength_ > 0 && wide.size() > static_cast<std::size_t>(maxLength_)) wide.resize(maxLength_);
    if (!wide.empty()) CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    SetWindowTextW(Handle(), wide.c_str());
}

StatusBar::StatusBar(const TControlDesign& design, TControl* parent, HWND parentWindow)
    : Control(design, parent,
              MakeChild(STATUSCLASSNAMEW, "", CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER, 0,
                        design.Bounds, parentWindow)) {
    std::vector<int> rightEdges;
    int right = 0;
    for (std::size_t i = 0; i < design.PanelWidths.size(); ++i) {
        right += design.PanelWidths[i];
        rightEdges.push_back(i + 1 == design.PanelWidths.size() ? -1 : right);
    }
    SendMessageW(Handle(), SB_SETPARTS, rightEdges.size(), reinterpret_cast<LPARAM>(rightEdges.data()));
    for (std::size_t i = 0; i < rightEdges.size(); ++i)
        panels_.push_back(std::make_unique<StatusPanel>(Handle(), static_cast<int>(i)));
    for (std::size_t i = 0; i < design.PanelTexts.size() && i < panels_.size(); ++i)
        panels_[i]->SetText(design.PanelTexts[i]);
}

StatusBar::~StatusBar() = default;

TStatusPanel* StatusBar::Panels(int index) const {
    return panels_.at(static_cast<std::size_t>(index)).get();
}

TRect StatusBar::PanelRect(int index) const {
    // The parts as the bar holds them: right edges, the last one -1.
    std::vector<int> rightEdges(panels_.size());
    SendMessageW(Handle(), SB_GETPARTS, rightEdges.size(), reinterpret_cast<LPARAM>(rightEdges.data()));
    RECT client;
    GetClientRect(Handle(), &client);
    const auto i = static_cast<std::size_t>(index);
    const int left = i == 0 ? 0 : rightEdges.at(i - 1);
    const int right = rightEdges.at(i) < 0 ? client.right : rightEdges.at(i);
    return {left, 0, right - left, client.bottom};
}

std::unique_ptr<TControl> MakeControl(const TControlDesign& design, TControl* parent,
                                      HWND parentWindow) {
    switch (design.Kind) {
    case TControlKind::Panel: return std::make_unique<Panel>(design, parent, parentWindow);
    case TControlKind::GroupBox: return std::make_unique<GroupBox>(design, parent, parentWindow);
    case TControlKind::Label: return std::make_unique<Label>(design, parent, parentWindow);
    case TControlKind::RadioGroup: return std::make_unique<RadioGroup>(design, parent, parentWindow);
    case TControlKind::RadioButton:
        return std::make_unique<RadioButton>(design, parent, parentWindow);
    case TControlKind::ComboBox: return std::make_unique<ComboBox>(design, parent, parentWindow);
    case TControlKind::Edit: return std::make_unique<Edit>(design, parent, parentWindow);
    case TControlKind::CheckBox: return std::make_unique<CheckBox>(design, parent, parentWindow);
    case TControlKind::Button: return std::make_unique<Button>(design, parent, parentWindow);
    case TControlKind::StatusBar: return std::make_unique<StatusBar>(design, parent, parentWindow);
    }
    throw std::logic_error(std::string("Unknown kind of control ") + design.Name);
}

HWND HandleOf(const TControl* control) {
    return dynamic_cast<const WindowHolder&>(*control).Handle();
}

}  // namespace w32tk
