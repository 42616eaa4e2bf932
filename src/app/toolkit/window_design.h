// A window's design as one table: the window's name, caption and place, and
// every control with its name, kind, parent, rectangle, text and initial
// state. Each toolkit implementation builds the same window from it.
#pragma once

#include "app/toolkit/control.h"

#include <vector>

struct TControlDesign {
    const char* Name;
    TControlKind Kind;
    // The name of the container it lies in: the window's or a control's
    // made earlier in the table.
    const char* Parent;
    TRect Bounds;
    // The caption or the text; a radio group's caption, an edit's text.
    const char* Text = "";
    // A radio group's options.
    std::vector<const char*> Items = {};
    int Columns = 1;
    // A radio group's checked option, -1 for none.
    int ItemIndex = -1;
    // A check box or radio button checked at the start.
    bool Checked = false;
    // An edit field's maximum length, 0 for none.
    int MaxLength = 0;
    // A panel drawn sunken rather than raised.
    bool Sunken = false;
    // A status bar's panel widths (the last one stretches) and texts.
    std::vector<int> PanelWidths = {};
    std::vector<const char*> PanelTexts = {};
};

struct TWindowDesign {
    const char* Name;
    const char* Caption;
    // Where the window's frame lies on the screen, and its client area's
    // fixed width and height.
    TRect Bounds;
    // In the order they are made, which is also the order they stack in:
    // a later control lies over an earlier one.
    std::vector<TControlDesign> Controls = {};
    // The order Tab walks the controls in; a radio group stands for its
    // options, in their order.
    std::vector<const char*> TabOrder = {};
};
