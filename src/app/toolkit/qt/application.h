// The Qt application object and the exception report behind it (see
// exception_report.h): an exception that escapes an event handler is shown
// in a message box and the program goes on.
#pragma once

#include <QApplication>
#include <QString>

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    // Last line of defence: whatever a handler throws while Qt delivers an
    // event ends up here and is reported, not propagated into the event loop.
    bool notify(QObject* receiver, QEvent* event) override;

    // Shows one exception's message: a modal box with the stop icon, titled
    // with the program's name. Tests override it to record the message.
    virtual void ShowException(const QString& message);
};
