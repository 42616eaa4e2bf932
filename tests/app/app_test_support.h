// Helpers for driving the window offscreen: an application that records its
// exception reports, a form whose dialogs answer without a person, and ways
// to wait for the event loop instead of the clock.
#pragma once

#include "app/application.h"
#include "app/form_com.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <ostream>
#include <vector>

class QComboBox;
class QMessageBox;
class TRadioGroup;

// Failure messages show texts as texts, not as arrays of UTF-16 units.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

// The test program's application: the exception report records messages
// instead of showing them.
class RecordingApplication : public TApplication {
public:
    using TApplication::TApplication;
    void ShowException(const QString& message) override { reports.push_back(message); }
    QStringList reports;
};

RecordingApplication& TestApp();

// Runs the event loop until the main thread next goes idle, which is when
// the window's update handlers run.
void RunUntilIdle();

// Runs the event loop until `done` holds; `done` is checked after every
// event, so the wait ends as soon as the condition does.
void RunUntil(const std::function<bool()>& done);

// What an operator does: clicks an option of a radio group, picks an item of
// a drop-down list (the list reports it as the operator's choice).
void ClickOption(TRadioGroup* group, int index);
void ChooseItem(QComboBox* list, int index);

// Answers the next message box the program shows by pressing `key` on it,
// after `inspect` has looked at it.
void AnswerNextMessageBox(int key, std::function<void(QMessageBox&)> inspect = {});

// The window with its two dialogs answered from a script.
class TestForm : public TForm_Com {
public:
    bool ConfirmYesNo(const QString& Text) override;
    int MessageBox(const QString& Text, const QString& Caption, unsigned Flags) override;

    std::deque<bool> answers;  // next answers to the confirmation; Yes when empty
    QStringList questions;     // every confirmation asked
    QStringList messages;      // every message box: caption + "|" + text
    bool realMessageBoxes = false;  // also show the program's own box
};
