// The operator's actions as Qt input events on the widgets behind the
// controls.
#include "operator.h"

#include "app/toolkit/qt/widget_of.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QTest>

#include <gtest/gtest.h>

void RunUntilIdle() {
    QEventLoop loop;
    // Connected after the window's own idle handling, so it runs after it.
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     &loop, &QEventLoop::quit);
    loop.exec();
}

namespace {

// A radio button or check box reacts to clicks on its circle and caption only.
void ClickOnItsMark(QWidget* option) {
    QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, option->height() / 2));
}

}  // namespace

void ClickOption(TRadioGroup* group, int index) { ClickOnItsMark(qtk::OptionButton(group, index)); }

void Click(TRadioButton* button) { ClickOnItsMark(qtk::WidgetOf(button)); }

void Click(TCheckBox* box) { ClickOnItsMark(qtk::WidgetOf(box)); }

void Press(TButton* button) { QTest::mouseClick(qtk::WidgetOf(button), Qt::LeftButton); }

void ChooseItem(TComboBox* list, int index) {
    auto* box = qtk::WidgetOf<QComboBox>(list);
    if (!box->isEnabled()) ADD_FAILURE() << "an operator cannot choose in a disabled list";
    box->setCurrentIndex(index);
    emit box->activated(index);
}

namespace {

QWidget* WidgetAt(TFocus at) {
    if (at.option >= 0) return qtk::OptionButton(dynamic_cast<const TRadioGroup*>(at.control), at.option);
    return qtk::WidgetOf(at.control);
}

}  // namespace

void PressKey(TFocus from, TKey key) {
    QWidget* widget = WidgetAt(from);
    QApplication::setActiveWindow(widget->window());
    widget->setFocus(Qt::OtherFocusReason);
    const Qt::Key keys[] = {Qt::Key_Tab, Qt::Key_Backtab, Qt::Key_Left, Qt::Key_Down};
    QTest::keyClick(widget, keys[static_cast<int>(key)]);
}

bool HasFocus(TFocus at) { return QApplication::focusWidget() == WidgetAt(at); }
