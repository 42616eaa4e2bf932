#include "app_test_support.h"

#include <QEventLoop>
#include <QMessageBox>
#include <QTest>

#include <gtest/gtest.h>

RecordingApplication& TestApp() {
    return *static_cast<RecordingApplication*>(QCoreApplication::instance());
}

void RunUntil(const std::function<bool()>& done) {
    while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

namespace {

// Presses the key once the box is up and running its own loop.
class MessageBoxAnswerer : public QObject {
public:
    MessageBoxAnswerer(int key, std::function<void(QMessageBox&)> inspect)
        : key_(key), inspect_(std::move(inspect)) {
        qApp->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* box = qobject_cast<QMessageBox*>(watched);
        if (box == nullptr || event->type() != QEvent::Show) return false;
        qApp->removeEventFilter(this);
        QMetaObject::invokeMethod(
            this,
            [this, box] {
                if (inspect_) inspect_(*box);
                QTest::keyClick(box, static_cast<Qt::Key>(key_));
                deleteLater();
            },
            Qt::QueuedConnection);
        return false;
    }

private:
    int key_;
    std::function<void(QMessageBox&)> inspect_;
};

}  // namespace

void AnswerNextMessageBox(int key, std::function<void(QMessageBox&)> inspect) {
    new MessageBoxAnswerer(key, std::move(inspect));
}
