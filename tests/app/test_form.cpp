#include "test_form.h"

bool TestForm::ConfirmYesNo(const std::string& Text) {
    questions.push_back(Text);
    if (answers.empty()) return true;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
}

int TestForm::MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) {
    messages.push_back(Caption + "|" + Text);
    return realMessageBoxes ? TForm_Com::MessageBox(Text, Caption, Flags) : 1;
}
