#include "mastercard/master_card_config.h"

#include "mastercard/hex_codec.h"

#include <gtest/gtest.h>

#include <random>

using namespace mastercard;

namespace {

MasterCardSettings ModeOne() {
    MasterCardSettings s;
    s.RadioGroup_outdatamode0_1 = 1;
    return s;
}

MasterCardConfig Built(const MasterCardSettings& s) {
    const ConfigBuildResult r = BuildMasterCardConfig(s);
    EXPECT_EQ(r.failure, ConfigFailure::None);
    return r.config;
}

ConfigFailure FailureOf(const MasterCardSettings& s) { return BuildMasterCardConfig(s).failure; }

std::uint8_t BlockFor(int sector, int block) {
    MasterCardSettings s = ModeOne();
    s.ComboBox_SectorNum = sector;
    s.ComboBox_BlockNum = block;
    return Built(s).BlockNum;
}

std::uint8_t AddressFor(int start, int end) {
    MasterCardSettings s = ModeOne();
    s.ComboBox_BlockStartAdr = start;
    s.ComboBox_BlockEndAdr = end;
    return Built(s).BlockAdr;
}

}  // namespace

TEST(MasterCardConfig, WindowDefaultsGiveTheKnownFrame) {
    const MasterCardConfig c = Built(MasterCardSettings{});
    const std::array<std::uint8_t, 21> expected{0x01, 0x81, 0x00, 0x00, 0x00, 0xFF, 0xFF,
                                                0xFF, 0xFF, 0xFF, 0xFF, 0x40, 0x00, 0x08,
                                                0x00, 0xCC, 0x6E, 0x2B, 0x94, 0xD1, 0x00};
    EXPECT_EQ(c.Bytes(), expected);
    EXPECT_EQ(BuildConfigFrame(c), "AA20150181000000FFFFFFFFFFFF40000800CC6E2B94D1009B03");
}

TEST(MasterCardConfig, ModeOneWithEveryNonDefaultChoice) {
    MasterCardSettings s = ModeOne();
    s.RadioGroup_content_parameter = 2;
    s.ComboBox_SectorNum = 33;
    s.ComboBox_BlockNum = 5;
    s.RadioGroup_KeyCheck = 1;
    s.Edit_KeyCheck = "0123456789ab";
    s.ComboBox_BlockStartAdr = 11;
    s.ComboBox_BlockEndAdr = 15;
    s.RadioButton_OrderLow = false;
    s.RadioButton_OrderHigh = true;
    s.RadioGroup_OutStyle_bit7 = s.RadioGroup_OutStyle_bit6 = s.RadioGroup_OutStyle_bit5 = 1;
    s.RadioGroup_OutStyle_bit4 = s.RadioGroup_OutStyle_bit3 = s.RadioGroup_OutStyle_bit2 = 1;
    s.RadioGroup_bandrate_OutStyle_bit1_0 = 2;
    s.RadioGroup_Outmode = 1;
    s.CheckBox_cardflagsave = true;
    s.Edit_KeySet = "12345678";
    s.RadioGroup_KeySet = 0;
    const MasterCardConfig c = Built(s);
    EXPECT_EQ(BuildConfigFrame(c), "AA2015FE422195010123456789ABFB01FE015C1234567801E403");
    EXPECT_EQ(MasterCardConfig::FromBytes(c.Bytes()), c);
}

// Every field holds a value no other field (nor the header, checksum or
// trailer) holds, so a field written to or read from another's offset shows.
MasterCardConfig AllFieldsDistinct() {
    MasterCardConfig c;
    c.OutDataMode = 0xA1;
    c.ContentParameter = 0x42;
    c.SectorNum = 0x27;
    c.BlockNum = 0x9C;
    c.KeyType = 0x05;
    c.SectorKey = {0x11, 0x22, 0x33, 0x44, 0x55, 0x67};
    c.BlockAdr = 0xB7;
    c.ByteOrder = 0x0C;
    c.OutStyle = 0xD8;
    c.OutMode = 0x0E;
    c.LockFlag = 0x5C;
    c.ConfigPassword = {0x71, 0x82, 0x93, 0xE4};
    c.PasswordEnable = 0x6A;
    return c;
}

TEST(MasterCardConfig, EachFieldHasItsOwnOffsetInRecordAndFrame) {
    const std::array<std::uint8_t, 21> record{0xA1, 0x42, 0x27, 0x9C, 0x05, 0x11, 0x22,
                                              0x33, 0x44, 0x55, 0x67, 0xB7, 0x0C, 0xD8,
                                              0x0E, 0x5C, 0x71, 0x82, 0x93, 0xE4, 0x6A};
    EXPECT_EQ(AllFieldsDistinct().Bytes(), record);
    EXPECT_EQ(MasterCardConfig::FromBytes(record), AllFieldsDistinct());
    EXPECT_EQ(FrameChecksum(AllFieldsDistinct()), 0x6B);
    EXPECT_EQ(BuildConfigFrame(AllFieldsDistinct()), "AA2015A142279C05112233445567B70CD80E5C718293E46A6B03");
}

TEST(MasterCardConfig, ContentParameterValues) {
    MasterCardSettings s;
    s.RadioGroup_content_parameter = 1;
    EXPECT_EQ(Built(s).ContentParameter, 0x61);
    s.RadioGroup_content_parameter = 2;
    EXPECT_EQ(Built(s).ContentParameter, 0x42);
}

TEST(MasterCardConfig, BlockRuleAtTheSectorBoundaries) {
    EXPECT_EQ(BlockFor(0, 0), 0);
    EXPECT_EQ(BlockFor(15, 3), 63);
    EXPECT_EQ(BlockFor(31, 3), 127);
    EXPECT_EQ(BlockFor(32, 0), 128);
    EXPECT_EQ(BlockFor(33, 5), 149);
    EXPECT_EQ(BlockFor(39, 15), 255);
}

TEST(MasterCardConfig, SectorAndBlockAreZeroInModeZero) {
    MasterCardSettings s;
    s.ComboBox_SectorNum = 39;
    s.ComboBox_BlockNum = 15;
    s.RadioGroup_KeyCheck = 1;
    const MasterCardConfig c = Built(s);
    EXPECT_EQ(c.SectorNum, 0);
    EXPECT_EQ(c.BlockNum, 0);
    EXPECT_EQ(c.KeyType, 0);
}

TEST(MasterCardConfig, AddressRangeCoversOneToFiveBytes) {
    EXPECT_EQ(AddressFor(0, 4), 0x40);
    EXPECT_EQ(AddressFor(3, 3), 0x33);
    EXPECT_EQ(AddressFor(11, 15), 0xFB);
    MasterCardSettings s = ModeOne();
    s.ComboBox_BlockStartAdr = 5;
    s.ComboBox_BlockEndAdr = 4;
    EXPECT_EQ(FailureOf(s), ConfigFailure::AddressRange);
    s.ComboBox_BlockStartAdr = 0;
    s.ComboBox_BlockEndAdr = 5;
    EXPECT_EQ(FailureOf(s), ConfigFailure::AddressRange);
}

TEST(MasterCardConfig, OutStyleBitsAndBaudRate) {
    MasterCardSettings s;
    EXPECT_EQ(Built(s).OutStyle, 0x08);  // only "without checksum", 9600
    s.RadioGroup_OutStyle_bit7 = s.RadioGroup_OutStyle_bit6 = s.RadioGroup_OutStyle_bit5 = 1;
    s.RadioGroup_OutStyle_bit4 = s.RadioGroup_OutStyle_bit2 = 1;
    s.RadioGroup_bandrate_OutStyle_bit1_0 = 2;
    EXPECT_EQ(Built(s).OutStyle, 0xFE);
    int MasterCardSettings::*const groups[] = {
        &MasterCardSettings::RadioGroup_OutStyle_bit7, &MasterCardSettings::RadioGroup_OutStyle_bit6,
        &MasterCardSettings::RadioGroup_OutStyle_bit5, &MasterCardSettings::RadioGroup_OutStyle_bit4,
        &MasterCardSettings::RadioGroup_OutStyle_bit3, &MasterCardSettings::RadioGroup_OutStyle_bit2};
    for (int bit = 0; bit < 6; ++bit) {
        MasterCardSettings one;
        one.RadioGroup_OutStyle_bit3 = 0;
        one.*groups[bit] = 1;
        EXPECT_EQ(Built(one).OutStyle, 0x80 >> bit) << "bit " << 7 - bit;
    }
    s = MasterCardSettings{};
    s.RadioGroup_bandrate_OutStyle_bit1_0 = 1;
    EXPECT_EQ(Built(s).OutStyle, 0x09);
}

TEST(MasterCardConfig, ByteOrderLockAndPasswordEnable) {
    MasterCardSettings s;
    s.RadioButton_OrderLow = false;
    s.RadioButton_OrderHigh = false;
    EXPECT_EQ(Built(s).ByteOrder, 0);
    s.RadioButton_OrderHigh = true;
    EXPECT_EQ(Built(s).ByteOrder, 1);
    s.CheckBox_cardflagsave = true;
    EXPECT_EQ(Built(s).LockFlag, 0x5C);
    s.RadioGroup_KeySet = 0;
    EXPECT_EQ(Built(s).PasswordEnable, 1);
    // The password is carried even while it is disabled.
    s.RadioGroup_KeySet = 1;
    s.Edit_KeySet = "a1b2c3d4";
    const MasterCardConfig c = Built(s);
    EXPECT_EQ(c.PasswordEnable, 0);
    EXPECT_EQ(c.ConfigPassword, (std::array<std::uint8_t, 4>{0xA1, 0xB2, 0xC3, 0xD4}));
}

TEST(MasterCardConfig, KeyTextIsTwelveHexDigitsHighByteFirst) {
    MasterCardSettings s = ModeOne();
    s.Edit_KeyCheck = "a0b1c2d3e4f5";
    EXPECT_EQ(Built(s).SectorKey, (std::array<std::uint8_t, 6>{0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5}));
    for (const char* bad : {"", "A0B1C2D3E4F", "A0B1C2D3E4F56", "A0B1C2D3E4FG", "A0B1C2 3E4F5"}) {
        s.Edit_KeyCheck = bad;
        EXPECT_EQ(FailureOf(s), ConfigFailure::KeyText) << bad;
    }
}

TEST(MasterCardConfig, FailuresAreReportedInOrderKeyAddressPassword) {
    MasterCardSettings s = ModeOne();
    s.Edit_KeyCheck = "XYZ";
    s.ComboBox_BlockStartAdr = 9;
    s.ComboBox_BlockEndAdr = 0;
    s.Edit_KeySet = "1234567";
    EXPECT_EQ(FailureOf(s), ConfigFailure::KeyText);
    s.Edit_KeyCheck = "FFFFFFFFFFFF";
    EXPECT_EQ(FailureOf(s), ConfigFailure::AddressRange);
    s.ComboBox_BlockEndAdr = 9;
    EXPECT_EQ(FailureOf(s), ConfigFailure::PasswordText);
}

TEST(MasterCardConfig, ModeZeroIgnoresKeyAndAddressButNotPassword) {
    MasterCardSettings s;
    s.Edit_KeyCheck = "not a key";
    s.ComboBox_BlockStartAdr = 9;
    s.ComboBox_BlockEndAdr = 0;
    const MasterCardConfig c = Built(s);
    EXPECT_EQ(c.SectorKey, kModeZeroKeyFiller);
    EXPECT_EQ(c.BlockAdr, 0x40);
    s.Edit_KeySet = "1234567";
    EXPECT_EQ(FailureOf(s), ConfigFailure::PasswordText);
    s.Edit_KeySet = "123456789";
    EXPECT_EQ(FailureOf(s), ConfigFailure::PasswordText);
}

TEST(ConfigFrame, ChecksumCoversHeaderAndRecordButNotTrailer) {
    MasterCardConfig zero;
    EXPECT_EQ(FrameChecksum(zero), 0x9F);
    zero.OutDataMode = 0x01;
    EXPECT_EQ(FrameChecksum(zero), 0x9E);
    const std::string frame = BuildConfigFrame(zero);
    EXPECT_EQ(frame.size(), 52u);
    EXPECT_EQ(frame.substr(48), "9E03");
}

// Any index, any text: the build must return a record or one failure, never
// crash, and every field of a record must still be a byte of the frame.
TEST(MasterCardConfig, RandomSettingsNeverFail) {
    std::mt19937 rng(7);
    const auto index = [&] { return static_cast<int>(rng() % 64) - 8; };
    const auto text = [&] {
        std::string t(rng() % 16, '\0');
        for (char& c : t) c = rng() % 3 ? "0123456789abcdefABCDEF"[rng() % 22] : static_cast<char>(rng());
        return t;
    };
    for (int round = 0; round < 20000; ++round) {
        MasterCardSettings s;
        s.RadioGroup_outdatamode0_1 = index() % 3;
        s.RadioGroup_content_parameter = index();
        s.ComboBox_SectorNum = index();
        s.ComboBox_BlockNum = index();
        s.RadioGroup_KeyCheck = index();
        s.Edit_KeyCheck = text();
        s.ComboBox_BlockStartAdr = index();
        s.ComboBox_BlockEndAdr = index();
        s.RadioGroup_OutStyle_bit7 = index();
        s.RadioGroup_bandrate_OutStyle_bit1_0 = index();
        s.RadioGroup_Outmode = index();
        s.Edit_KeySet = text();
        s.RadioGroup_KeySet = index();
        const ConfigBuildResult r = BuildMasterCardConfig(s);
        if (r.failure != ConfigFailure::None) continue;
        const std::string frame = BuildConfigFrame(r.config);
        ASSERT_EQ(frame.size(), 52u);
        ASSERT_TRUE(IsHexText(frame));
        EXPECT_NE(r.config.OutStyle & 0x03, 0x03);
    }
}
