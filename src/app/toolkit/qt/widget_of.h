// The Qt widget behind a control or a window of this implementation, for
// code that drives Qt itself: the program's start and the tests that press
// keys and click with Qt's own test tools.
#pragma once

#include "app/toolkit/qt/controls.h"
#include "app/toolkit/qt/radio_group_box.h"
#include "app/toolkit/qt/status_bar_widget.h"
#include "app/toolkit/qt/window.h"

#include <QRadioButton>

namespace qtk {

inline QWidget* WidgetOf(const TControl* control) {
    return dynamic_cast<const WidgetHolder&>(*control).Widget();
}

// The widget of the class that stands for the control's kind.
template <class QtWidget>
QtWidget* WidgetOf(const TControl* control) {
    return qobject_cast<QtWidget*>(WidgetOf(control));
}

inline QWidget* WidgetOf(const TWindow& window) {
    return dynamic_cast<const Window&>(window).Widget();
}

// Option `index` of a radio group.
inline QRadioButton* OptionButton(const TRadioGroup* group, int index) {
    return WidgetOf<RadioGroupBox>(group)->Button(index);
}

}  // namespace qtk
