// Helpers for driving the window offscreen on Qt: an application that
// records its exception reports, ways to wait for the event loop instead of
// the clock, and the answer to a real message box.
#pragma once

#include "app/toolkit/qt/application.h"
#include "app/toolkit/qt/widget_of.h"
#include "operator.h"
#include "test_form.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

class QMessageBox;

// Failure messages show texts as texts, not as arrays of UTF-16 units.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

// The window's texts and paths are UTF-8; the cases that drive Qt directly
// convert with these.
inline QString Q(const std::string& text) { return QString::fromStdString(text); }
inline std::string S(const QString& text) { return text.toStdString(); }

// The window's texts are UTF-8; the cases that drive Qt directly write
// theirs as Qt's. Equal when the characters are.
inline bool operator==(const std::string& a, const QString& b) { return QString::fromStdString(a) == b; }
inline bool operator==(const std::vector<std::string>& a, const QStringList& b) {
    QStringList texts;
    for (const std::string& text : a) texts << QString::fromStdString(text);
    return texts == b;
}

// The test program's application: the exception report records messages
// instead of showing them.
class RecordingApplication : public TApplication {
public:
    using TApplication::TApplication;
    void ShowException(const QString& message) override { reports.push_back(message); }
    QStringList reports;
};

RecordingApplication& TestApp();

// Runs the event loop until `done` holds; `done` is checked after every
// event, so the wait ends as soon as the condition does.
void RunUntil(const std::function<bool()>& done);

// Answers the next message box the program shows by pressing `key` on it,
// after `inspect` has looked at it.
void AnswerNextMessageBox(int key, std::function<void(QMessageBox&)> inspect = {});
