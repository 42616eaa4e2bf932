#include "app/toolkit/qt/dialogs.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

QMessageBox::Icon IconFor(unsigned flags) {
    switch (flags & 0xF0) {
        case MB_ICONERROR: return QMessageBox::Critical;
        case MB_ICONQUESTION: return QMessageBox::Question;
        case MB_ICONWARNING: return QMessageBox::Warning;
        case MB_ICONINFORMATION: return QMessageBox::Information;
        default: return QMessageBox::NoIcon;
    }
}

}  // namespace

namespace qtk {

int ShowMessageBoxDialog(QWidget* parent, const QString& text, const QString& caption,
                         unsigned flags) {
    QMessageBox box(IconFor(flags), caption, text, QMessageBox::Ok, parent);
    box.exec();
    return IDOK;
}

bool ShowConfirmationDialog(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, "Confirm", text, QMessageBox::NoButton, parent);
    QPushButton* yes = box.addButton("&Yes", QMessageBox::YesRole);
    QPushButton* no = box.addButton("&No", QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

}  // namespace qtk
