// What an operator does to the window, in the toolkit layer's vocabulary:
// each toolkit implementation carries these out with its own input events,
// so the cases written with them run on every implementation.
#pragma once

#include "app/toolkit/controls.h"

// Lets the event loop run until the main thread next goes idle, which is
// when the window's update handlers run.
void RunUntilIdle();

// Clicks an option of a radio group, a radio button or a check box, on its
// circle or box.
void ClickOption(TRadioGroup* group, int index);
void Click(TRadioButton* button);
void Click(TCheckBox* box);

// Presses a button with the mouse.
void Press(TButton* button);

// Picks an item of a drop-down list, as the operator's choice.
void ChooseItem(TComboBox* list, int index);

// Where the keyboard focus is: a control, or option `option` of a radio group.
struct TFocus {
    const TControl* control;
    int option = -1;
};

enum class TKey { Tab, BackTab, Left, Down };

// Puts the focus on `from` and presses `key` there, in the window's active
// state, then lets the window handle it.
void PressKey(TFocus from, TKey key);
bool HasFocus(TFocus at);
