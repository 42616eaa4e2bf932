#include "app/toolkit/qt/controls.h"

#include "app/toolkit/exception_report.h"
#include "app/toolkit/qt/radio_group_box.h"
#include "app/toolkit/qt/status_bar_widget.h"
#include "app/toolkit/qt/upper_case_validator.h"

#include <QStringList>

#include <stdexcept>

namespace qtk {

namespace {

// Names the widget for its control and puts it in its designed place.
template <class QtWidget>
QtWidget* Placed(QtWidget* widget, const TControlDesign& design) {
    widget->setObjectName(design.Name);
    widget->setGeometry(design.Bounds.Left, design.Bounds.Top, design.Bounds.Width,
                        design.Bounds.Height);
    return widget;
}

QString Utf8(const char* text) { return QString::fromUtf8(text); }

QStringList Texts(const std::vector<const char*>& items) {
    QStringList texts;
    for (const char* item : items) texts << Utf8(item);
    return texts;
}

class StatusPanel : public TStatusPanel {
public:
    explicit StatusPanel(QLabel* label) : label_(label) {}
    std::string Text() const override { return label_->text().toStdString(); }
    void SetText(const std::string& text) override { label_->setText(ToQString(text)); }

private:
    QLabel* label_;
};

}  // namespace

Panel::Panel(const TControlDesign& design, TControl* parent, QWidget* parentWidget)
    : Control(design, parent, Placed(new QFrame(parentWidget), design)) {
    widget_->setFrameStyle(QFrame::Panel | (design.Sunken ? QFrame::Sunken : QFrame::Raised));
}

GroupBox::GroupBox(const TControlDesign& design, TControl* parent, QWidget* parentWidget)
    : Control(design, parent, Placed(new QGroupBox(Utf8(design.Text), parentWidget), design)) {}

Label::Label(const TControlDesign& design, TControl* parent, QWidget* parentWidget)
    : TextControl(design, parent, Placed(new QLabel(Utf8(design.Text), parentWidget), design)) {
    widget_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

Button::Button(const TControlDesign& design, TControl* parent, QWidget* parentWidget)
    : TextControl(design, parent, Placed(new QPushButton(Utf8(design.Text), parentWidget), design)) {
    QObject::connect(widget_, &QAbstractButton::clicked, widget_,
                     Guarded([this] { if (OnClick) OnClick(); }));
}

CheckBox::CheckBox(const TControlDesign& design, TControl* parent, QWidget* parentWidget)
    : TextControl(design, parent, Placed(new QCheckBox(Utf8(design.Text), parentWidget), design)) {
    widget_->setChecked(design.Checked);
    // toggled comes for every real change, the program's too.
    QObject::connect(widget_, &QCheckBox::toggled, widget_,
                     Guarded([this] { if (OnClick) OnClick(); }));
}

RadioButton::RadioButton(const TControlDesign& design, TControl* parent, QWidget* parentWidget)
    : TextControl(design, parent, Placed(new QRadioButton(Utf8(design.Text), parentWidget), design)) {
    if (design.Checked) widget_->setChecked(true);
}

RadioGroup::RadioGroup(const TControlDesign& design, TControl* parent, QWidget* parentWidget)
    : Control(design, parent,
              Placed(new RadioGroupBox(parentWidget, Utf8(design.Text), Texts(design.Items),
                                       design.Columns),
                     design)) {
    widget_->SetItemIndex(design.ItemIndex);
    QObject::connect(widget_, &RadioGroupBox::Click, widget_,
                     Guarded([this] { if (OnClick) OnClick(); }));
}

std::string RadioGroup::Text() const { return widget_->title().toStdString(); }
void RadioGroup::SetText(const std::string& text) { widget_->setTitle(ToQString(text)); }
int RadioGroup::ItemIndex() const { return widget_->ItemIndex(); }
void RadioGroup::SetItemIndex(int index) { widget_->SetItemIndex(index); }
int RadioGroup::Count() const { return widget_->Count(); }
int RadioGroup::Columns() const { return widget_->Columns(); }
std::string RadioGroup::Items(int index) const {
    return widget_->Button(index)->text().toStdString();
}

ComboBox::ComboBox(const TControlDesign& design, TControl* parent, QWidget* parentWidget)
    : Control(design, parent, Placed(new QComboBox(parentWidget), design)) {
    widget_->setEditable(false);
    widget_->setMaxVisibleItems(8);
    // activated is the operator's choice only; the program's own choices
    // must not reach the change handler.
    QObject::connect(widget_, &QComboBox::activated, widget_,
                     Guarded([this] { if (OnChange) OnChange(); }));
}

Edit::Edit(const TControlDesign& design, TControl* parent, QWidget* parentWidget)
    : TextControl(design, parent, Placed(new QLineEdit(parentWidget), design)) {
    widget_->setValidator(new UpperCaseValidator(widget_));
    if (design.MaxLength > 0) widget_->setMaxLength(design.MaxLength);
    widget_->setText(Utf8(design.Text));
}

StatusBar::StatusBar(const TControlDesign& design, TControl* parent, QWidget* parentWidget)
    : Control(design, parent, Placed(new StatusBarWidget(parentWidget, design.PanelWidths), design)) {
    for (int i = 0; i < widget_->PanelCount(); ++i)
        panels_.push_back(std::make_unique<StatusPanel>(widget_->Panels(i)));
    for (std::size_t i = 0; i < design.PanelTexts.size() && i < panels_.size(); ++i)
        panels_[i]->SetText(design.PanelTexts[i]);
}

StatusBar::~StatusBar() = default;

int StatusBar::PanelCount() const { return widget_->PanelCount(); }

TStatusPanel* StatusBar::Panels(int index) const {
    return panels_.at(static_cast<std::size_t>(index)).get();
}

TRect StatusBar::PanelRect(int index) const {
    const QRect r = widget_->Panels(index)->geometry();
    return {r.x(), r.y(), r.width(), r.height()};
}

std::unique_ptr<TControl> MakeControl(const TControlDesign& design, TControl* parent,
                                      QWidget* parentWidget) {
    switch (design.Kind) {
    case TControlKind::Panel: return std::make_unique<Panel>(design, parent, parentWidget);
    case TControlKind::GroupBox: return std::make_unique<GroupBox>(design, parent, parentWidget);
    case TControlKind::Label: return std::make_unique<Label>(design, parent, parentWidget);
    case TControlKind::RadioGroup: return std::make_unique<RadioGroup>(design, parent, parentWidget);
    case TControlKind::RadioButton:
        return std::make_unique<RadioButton>(design, parent, parentWidget);
    case TControlKind::ComboBox: return std::make_unique<ComboBox>(design, parent, parentWidget);
    case TControlKind::Edit: return std::make_unique<Edit>(design, parent, parentWidget);
    case TControlKind::CheckBox: return std::make_unique<CheckBox>(design, parent, parentWidget);
    case TControlKind::Button: return std::make_unique<Button>(design, parent, parentWidget);
    case TControlKind::StatusBar: return std::make_unique<StatusBar>(design, parent, parentWidget);
    }
    throw std::logic_error(std::string("Unknown kind of control ") + design.Name);
}

}  // namespace qtk
