// What the window's design asks of the Qt widgets themselves: the class that
// stands for each kind, the title bar, the font, options in columns and the
// keyboard's walk through the window.
#include "app_test_support.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFontMetrics>

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

class FormLayoutOnQt : public testing::Test {
protected:
    void SetUp() override { form.Show(); }
    QWidget& Window() const { return *qtk::WidgetOf(form.Window()); }
    TestForm form;
};

TEST_F(FormLayoutOnQt, EachKindIsItsWidgetOnItsParentsWidget) {
    const std::map<TControlKind, const char*> classes = {
        {TControlKind::Panel, "QFrame"},         {TControlKind::GroupBox, "QGroupBox"},
        {TControlKind::Label, "QLabel"},         {TControlKind::RadioGroup, "qtk::RadioGroupBox"},
        {TControlKind::RadioButton, "QRadioButton"}, {TControlKind::ComboBox, "QComboBox"},
        {TControlKind::Edit, "QLineEdit"},       {TControlKind::CheckBox, "QCheckBox"},
        {TControlKind::Button, "QPushButton"},   {TControlKind::StatusBar, "qtk::StatusBarWidget"},
    };
    for (TControl* control : form.Window().Controls()) {
        SCOPED_TRACE(control->Name());
        QWidget* w = qtk::WidgetOf(control);
        EXPECT_TRUE(w->inherits(classes.at(control->Kind()))) << w->metaObject()->className();
        EXPECT_EQ(w->objectName().toStdString(), control->Name());
        QWidget* parent = control->Parent() ? qtk::WidgetOf(control->Parent()) : &Window();
        EXPECT_EQ(w->parentWidget(), parent);
    }
    for (QComboBox* list : Window().findChildren<QComboBox*>()) EXPECT_FALSE(list->isEditable());
}

TEST_F(FormLayoutOnQt, NoNamedWidgetBeyondTheDesign) {
    for (QWidget* w : Window().findChildren<QWidget*>()) {
        if (w->objectName().isEmpty() || w->objectName().startsWith("qt_")) continue;
        EXPECT_NE(form.Window().FindControl(w->objectName().toStdString()), nullptr)
            << w->objectName().toStdString();
    }
}

TEST_F(FormLayoutOnQt, FixedSizeAndTitleBar) {
    EXPECT_EQ(Window().minimumSize(), QSize(771, 562));
    EXPECT_EQ(Window().maximumSize(), QSize(771, 562));
    EXPECT_EQ(Window().pos(), QPoint(140, 77));
    const Qt::WindowFlags flags = Window().windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
}

TEST_F(FormLayoutOnQt, FontShowsEveryChineseText) {
    // A font without these glyphs shows boxes; the design's Chinese must be
    // legible in the font the window actually uses.
    QFontMetrics metrics(Window().font());
    std::string all;
    for (TControl* control : form.Window().Controls()) {
        all += control->Text();
        if (auto* group = dynamic_cast<TRadioGroup*>(control))
            for (int i = 0; i < group->Count(); ++i) all += group->Items(i);
    }
    all += form.StatusBar1->Panels(0)->Text() + form.StatusBar1->Panels(2)->Text();
    EXPECT_GT(all.size(), 400u);
    for (QChar c : QString::fromStdString(all))
        EXPECT_TRUE(metrics.inFont(c)) << QString(c).toStdString();
}

TEST_F(FormLayoutOnQt, OptionsSitSideBySideInColumnsAndStackInOne) {
    // Two columns: the second option starts half the group's width to the right.
    QRadioButton* s50 = qtk::OptionButton(form.RadioGroup_cardnum, 0);
    QRadioButton* s70 = qtk::OptionButton(form.RadioGroup_cardnum, 1);
    EXPECT_EQ(s50->y(), s70->y());
    EXPECT_EQ(s70->x() - s50->x(), (611 - 10) / 2);
    // One column: the options are stacked, inside the group.
    QRadioButton* keyA = qtk::OptionButton(form.RadioGroup_KeyCheck, 0);
    QRadioButton* keyB = qtk::OptionButton(form.RadioGroup_KeyCheck, 1);
    EXPECT_EQ(keyA->x(), keyB->x());
    EXPECT_LT(keyA->geometry().bottom(), keyB->y());
    EXPECT_LE(keyB->geometry().bottom(), form.RadioGroup_KeyCheck->BoundsRect().Height);
}

TEST_F(FormLayoutOnQt, TabWalksPortControlsThenGenerateThenSettingsInDesignOrder) {
    // Radio options count as their group; consecutive repeats collapse. Of
    // the byte-order pair only the checked option is a Tab stop.
    QStringList walk;
    QWidget* first = qtk::WidgetOf(form.ComboBox_ComNum);
    QWidget* w = first;
    do {
        if (w->focusPolicy() & Qt::TabFocus) {
            QString name = w->objectName();
            if (auto* group = qobject_cast<qtk::RadioGroupBox*>(w->parentWidget()))
                name = group->objectName();
            if (!name.isEmpty() && (walk.isEmpty() || walk.last() != name)) walk << name;
        }
        w = w->nextInFocusChain();
    } while (w != first);
    const QStringList expected = {
        "ComboBox_ComNum", "Button1", "Button2", "Button_genMcard", "RadioGroup_cardnum",
        "RadioGroup_outdatamode0_1", "RadioGroup_Outmode", "ComboBox_SectorNum",
        "ComboBox_BlockNum", "ComboBox_BlockStartAdr", "ComboBox_BlockEndAdr",
        "RadioButton_OrderLow", "CheckBox_cardflagsave",
        "RadioGroup_KeyCheck", "Edit_KeyCheck", "RadioGroup_KeySet", "Edit_KeySet",
        "RadioGroup_OutStyle_bit7", "RadioGroup_bandrate_OutStyle_bit1_0",
        "RadioGroup_content_parameter", "RadioGroup_OutStyle_bit6", "RadioGroup_OutStyle_bit5",
        "RadioGroup_OutStyle_bit4", "RadioGroup_OutStyle_bit3", "RadioGroup_OutStyle_bit2"};
    EXPECT_EQ(walk, expected);
}

}  // namespace
