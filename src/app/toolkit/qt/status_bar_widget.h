// The Qt widget of a status bar: text panels addressed by index. Every panel but the last
// has a fixed width; the last takes what is left of the bar.
#pragma once

#include <QFrame>
#include <QLabel>

#include <vector>

namespace qtk {

class StatusBarWidget : public QFrame {
    Q_OBJECT
public:
    // One panel per entry of `widths`; the last entry is ignored, as the
    // last panel always stretches to the bar's right edge.
    StatusBarWidget(QWidget* parent, const std::vector<int>& widths);

    QLabel* Panels(int index) const { return panels_.at(static_cast<std::size_t>(index)); }
    int PanelCount() const { return static_cast<int>(panels_.size()); }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void ArrangePanels();

    std::vector<int> widths_;
    std::vector<QLabel*> panels_;
};

}  // namespace qtk
