// The window with its two dialogs answered from a script.
#pragma once

#include "app/form_com.h"

#include <deque>
#include <string>
#include <vector>

class TestForm : public TForm_Com {
public:
    bool ConfirmYesNo(const std::string& Text) override;
    int MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) override;

    std::deque<bool> answers;             // next answers to the confirmation; Yes when empty
    std::vector<std::string> questions;   // every confirmation asked
    std::vector<std::string> messages;    // every message box: caption + "|" + text
    bool realMessageBoxes = false;        // also show the program's own box
};
