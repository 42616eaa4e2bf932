#include "app/toolkit/qt/application.h"

#include "app/toolkit/exception_report.h"

#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <QtGlobal>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // The classic look: a group's caption sits on its frame line and
    // disabled texts are etched, as operators of this tool know it.
    setStyle("Windows");
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ReportException(error);
    } catch (...) {
        ReportExceptionMessage("Unknown exception");
    }
    return false;
}

void TApplication::ShowException(const QString& message) {
    QMessageBox box(QMessageBox::Critical, applicationName(), message, QMessageBox::Ok,
                    activeWindow());
    box.exec();
}

void ReportException(const std::exception& error) { ReportExceptionMessage(error.what()); }

void ReportExceptionMessage(std::string_view message) {
    const QString text = QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size()));
    auto* app = qobject_cast<TApplication*>(QCoreApplication::instance());
    if (app == nullptr) {
        qWarning("Unreported exception: %s", qUtf8Printable(text));
        return;
    }
    if (QThread::currentThread() == app->thread()) {
        app->ShowException(text);
        return;
    }
    QMetaObject::invokeMethod(app, [app, text] { app->ShowException(text); }, Qt::QueuedConnection);
}
