// The Qt widget of a radio group: a captioned frame of mutually exclusive
// options laid out in columns. Its value is the index of the checked option,
// -1 when none is checked.
#pragma once

#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>
#include <QStringList>

#include <vector>

namespace qtk {

class RadioGroupBox : public QGroupBox {
    Q_OBJECT
public:
    RadioGroupBox(QWidget* parent, const QString& caption, const QStringList& items, int columns = 1);

    int ItemIndex() const { return group_.checkedId(); }
    // -1 unchecks every option.
    void SetItemIndex(int index);
    int Count() const { return static_cast<int>(buttons_.size()); }
    int Columns() const { return columns_; }
    QRadioButton* Button(int index) const { return buttons_.at(static_cast<std::size_t>(index)); }

signals:
    // The checked option changed, by the operator or by the program.
    void Click();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void ArrangeButtons();

    QButtonGroup group_;
    std::vector<QRadioButton*> buttons_;
    int columns_;
};

}  // namespace qtk
