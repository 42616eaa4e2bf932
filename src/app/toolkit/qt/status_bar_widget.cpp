#include "app/toolkit/qt/status_bar_widget.h"

namespace qtk {

StatusBarWidget::StatusBarWidget(QWidget* parent, const std::vector<int>& widths)
    : QFrame(parent), widths_(widths) {
    for (std::size_t i = 0; i < widths_.size(); ++i) {
        auto* panel = new QLabel(this);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setIndent(2);
        panels_.push_back(panel);
    }
    ArrangePanels();
}

void StatusBarWidget::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    ArrangePanels();
}

void StatusBarWidget::ArrangePanels() {
    int left = 0;
    for (std::size_t i = 0; i < panels_.size(); ++i) {
        const bool last = i + 1 == panels_.size();
        const int width = last ? std::max(0, this->width() - left) : widths_[i];
        panels_[i]->setGeometry(left, 0, width, height());
        left += width;
    }
}

}  // namespace qtk
