// The application object and its exception report. An exception that
// escapes an event handler is shown to the operator in a message box and the
// program goes on, instead of tearing the process down.
#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <string_view>

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

// Hands an exception to the application's report. Safe to call from any
// thread: off the main thread the report is queued to the main thread, so a
// worker never waits for the operator. Without a TApplication the message
// goes to the warning log.
void ReportException(const std::exception& error);
void ReportExceptionMessage(std::string_view message);

// Wraps an event handler so that an exception from it is reported where Qt
// calls it, before it could unwind through Qt's own frames.
template <class Handler>
auto Guarded(Handler handler) {
    return [handler]() {
        try {
            handler();
        } catch (const std::exception& error) {
            ReportException(error);
        } catch (...) {
            ReportExceptionMessage("Unknown exception");
        }
    };
}
