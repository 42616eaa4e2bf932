// The port selection dialog: what it lists and what it reports.
#include "serial/select/com_select_form.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace sio;

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "com_select_form_tests";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

TEST(ComSelectForm, ListsTheProbedPortsAndSelectsTheFirst) {
    App();
    TComSelectForm form(nullptr, [](int n) { return n == 3 || n == 12 || n == 50 || n == 51; });
    EXPECT_EQ(form.windowTitle(), "Select Port");
    ASSERT_EQ(form.PortsComboBox->count(), 3) << "COM1 to COM50 only";
    EXPECT_EQ(form.PortsComboBox->itemText(0), "COM3");
    EXPECT_EQ(form.PortsComboBox->itemText(2), "COM50");
    EXPECT_EQ(form.SelectedPort(), 3);
    form.PortsComboBox->setCurrentIndex(1);
    EXPECT_EQ(form.SelectedPort(), 12);
    EXPECT_EQ(form.OKButton->text(), "OK");
    EXPECT_EQ(form.CancelButton->text(), "Cancel");

    TComSelectForm none(nullptr, [](int) { return false; });
    EXPECT_EQ(none.SelectedPort(), 0) << "an empty list reports no port";
}

}  // namespace
