// The window shown and brought to its first idle moment, with the
// connection state set by hand, for cases in the toolkit layer's vocabulary.
#pragma once

#include "operator.h"
#include "test_form.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class FormCom : public testing::Test {
protected:
    void SetUp() override {
        form.Show();
        RunUntilIdle();
    }

    // Sets the connection state by hand, as the port connection will, and
    // lets the window catch up at the next idle moment.
    void Connect(bool ready) {
        form.FComReady = ready;
        RunUntilIdle();
    }

    // Connected and reading sector data: every setting is open to the operator.
    void ConnectInModeOne() {
        Connect(true);
        ClickOption(form.RadioGroup_outdatamode0_1, 1);
        RunUntilIdle();
    }

    std::vector<TControl*> GroupA() const {
        return {form.RadioGroup_cardnum,       form.RadioGroup_Outmode,
                form.RadioGroup_OutStyle_bit7, form.RadioGroup_OutStyle,
                form.RadioGroup_OutStyle_bit6, form.RadioGroup_OutStyle_bit5,
                form.RadioGroup_OutStyle_bit4, form.RadioGroup_OutStyle_bit3,
                form.RadioGroup_OutStyle_bit2, form.RadioGroup_bandrate_OutStyle_bit1_0,
                form.RadioGroup_content_parameter};
    }
    std::vector<TControl*> GroupB() const { return {form.RadioGroup_outdatamode0_1}; }
    std::vector<TControl*> GroupC() const {
        return {form.GroupBox_DataOrder,    form.ComboBox_SectorNum,   form.ComboBox_BlockNum,
                form.ComboBox_BlockStartAdr, form.ComboBox_BlockEndAdr, form.RadioButton_OrderLow,
                form.RadioButton_OrderHigh, form.RadioGroup_KeyCheck,  form.Edit_KeyCheck};
    }
    std::vector<TControl*> GroupD() const {
        return {form.GroupBox2, form.CheckBox_cardflagsave, form.RadioGroup_KeySet, form.Edit_KeySet};
    }

    static void ExpectEnabled(const std::vector<TControl*>& group, bool enabled) {
        for (TControl* c : group) EXPECT_EQ(c->Enabled(), enabled) << c->Name();
    }

    TestForm form;
};
