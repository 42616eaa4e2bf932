#include "app/toolkit/qt/radio_group_box.h"

#include "app/toolkit/qt/option_tab_stop.h"

#include <QFontMetrics>

namespace qtk {

RadioGroupBox::RadioGroupBox(QWidget* parent, const QString& caption, const QStringList& items,
                             int columns)
    : QGroupBox(caption, parent), columns_(std::max(1, columns)) {
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        group_.addButton(button, i);
        buttons_.push_back(button);
    }
    connect(&group_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        // Each change unchecks one option and checks another; report it once.
        if (checked) emit Click();
    });
    ArrangeButtons();
    KeepTabStopOnCheckedOption({buttons_.begin(), buttons_.end()});
}

void RadioGroupBox::SetItemIndex(int index) {
    if (index == ItemIndex()) return;
    if (index >= 0 && index < Count()) {
        buttons_[static_cast<std::size_t>(index)]->setChecked(true);
        return;
    }
    // An exclusive group refuses to uncheck its last checked option.
    group_.setExclusive(false);
    for (QRadioButton* button : buttons_) button->setChecked(false);
    group_.setExclusive(true);
}

void RadioGroupBox::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    ArrangeButtons();
}

// Options fill the columns top to bottom and share the height below the
// caption evenly, so a group keeps its familiar look at any size.
void RadioGroupBox::ArrangeButtons() {
    if (buttons_.empty()) return;
    const int count = Count();
    const int textHeight = QFontMetrics(font()).height();
    const int perColumn = (count + columns_ - 1) / columns_;
    const int buttonWidth = (width() - 10) / columns_;
    const int space = height() - textHeight - 5;
    const int buttonHeight = std::max(0, space / perColumn);
    const int topMargin = textHeight + 1 + (space % perColumn) / 2;
    for (int i = 0; i < count; ++i) {
        buttons_[static_cast<std::size_t>(i)]->setGeometry(
            (i / perColumn) * buttonWidth + 8, (i % perColumn) * buttonHeight + topMargin,
            buttonWidth, buttonHeight);
    }
}

}  // namespace qtk
