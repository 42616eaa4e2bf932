#include "app_test_support.h"

#include "app/radio_group.h"

#include <QAbstractEventDispatcher>
#include <QComboBox>
#include <QEventLoop>
#include <QMessageBox>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

RecordingApplication& TestApp() {
    return *static_cast<RecordingApplication*>(QCoreApplication::instance());
}

void RunUntilIdle() {
    QEventLoop loop;
    // Connected after the window's own idle handling, so it runs after it.
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     &loop, &QEventLoop::quit);
    loop.exec();
}

void RunUntil(const std::function<bool()>& done) {
    while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void ClickOption(TRadioGroup* group, int index) {
    QRadioButton* button = group->Button(index);
    // A radio button reacts to clicks on its circle and caption only.
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

void ChooseItem(QComboBox* list, int index) {
    if (!list->isEnabled()) ADD_FAILURE() << "an operator cannot choose in a disabled list";
    list->setCurrentIndex(index);
    emit list->activated(index);
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

bool TestForm::ConfirmYesNo(const QString& Text) {
    questions << Text;
    if (answers.empty()) return true;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
}

int TestForm::MessageBox(const QString& Text, const QString& Caption, unsigned Flags) {
    messages << Caption + "|" + Text;
    return realMessageBoxes ? TForm_Com::MessageBox(Text, Caption, Flags) : 1;
}
