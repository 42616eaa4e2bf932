#include "mastercard/master_card_config.h"

#include "mastercard/hex_codec.h"

#include <algorithm>

namespace mastercard {
namespace {

constexpr std::uint8_t kFrameHeader[] = {0xAA, 0x20, 0x15};
constexpr std::uint8_t kFrameTrailer = 0x03;
constexpr std::uint8_t kLockOn = 0x5C;
constexpr std::uint8_t kLockOff = 0xCC;
constexpr int kSectorsOfFourBlocks = 32;  // sectors 0-31; 32-39 hold 16 blocks
constexpr int kMaxAddressSpan = 4;        // one to five bytes of a block

// The window can only produce indices within its lists, but the record must
// be sound whatever it is given: an index outside 0..count-1 counts as no
// choice, which contributes 0.
int Chosen(int index, int count) { return index >= 0 && index < count ? index : 0; }

std::uint8_t ContentParameterFor(int index) {
    constexpr std::uint8_t kValues[] = {0x81, 0x61, 0x42};  // "8H", "6H", "4H+2H"
    return index >= 0 && index < 3 ? kValues[index] : 0;
}

// Absolute block number on an S50 or S70 card.
std::uint8_t BlockNumber(int sector, int block) {
    if (sector < kSectorsOfFourBlocks) return static_cast<std::uint8_t>(sector * 4 + block);
    return static_cast<std::uint8_t>(128 + (sector - kSectorsOfFourBlocks) * 16 + block);
}

// Fills `out` from a text of exactly 2 * N hexadecimal digits, high byte
// first; false when the text is anything else.
template <std::size_t N>
bool ParseHexField(const std::string& text, std::array<std::uint8_t, N>& out) {
    if (text.size() != 2 * N || !IsHexText(text)) return false;
    const std::string bytes = HexToBytes(text);
    for (std::size_t i = 0; i < N; ++i) out[i] = static_cast<std::uint8_t>(bytes[i]);
    return true;
}

std::uint8_t OutStyleFor(const MasterCardSettings& s) {
    const int bits[] = {s.RadioGroup_OutStyle_bit7, s.RadioGroup_OutStyle_bit6,
                        s.RadioGroup_OutStyle_bit5, s.RadioGroup_OutStyle_bit4,
                        s.RadioGroup_OutStyle_bit3, s.RadioGroup_OutStyle_bit2};
    int value = 0;
    for (int bit : bits) value = value * 2 + Chosen(bit, 2);
    return static_cast<std::uint8_t>(value * 4 + Chosen(s.RadioGroup_bandrate_OutStyle_bit1_0, 3));
}

}  // namespace

std::array<std::uint8_t, MasterCardConfig::kSize> MasterCardConfig::Bytes() const {
    std::array<std::uint8_t, kSize> b{};
    b[0] = OutDataMode;
    b[1] = ContentParameter;
    b[2] = SectorNum;
    b[3] = BlockNum;
    b[4] = KeyType;
    for (std::size_t i = 0; i < SectorKey.size(); ++i) b[5 + i] = SectorKey[i];
    b[11] = BlockAdr;
    b[12] = ByteOrder;
    b[13] = OutStyle;
    b[14] = OutMode;
    b[15] = LockFlag;
    for (std::size_t i = 0; i < ConfigPassword.size(); ++i) b[16 + i] = ConfigPassword[i];
    b[20] = PasswordEnable;
    return b;
}

MasterCardConfig MasterCardConfig::FromBytes(const std::array<std::uint8_t, kSize>& b) {
    MasterCardConfig c;
    c.OutDataMode = b[0];
    c.ContentParameter = b[1];
    c.SectorNum = b[2];
    c.BlockNum = b[3];
    c.KeyType = b[4];
    std::copy_n(b.begin() + 5, c.SectorKey.size(), c.SectorKey.begin());
    c.BlockAdr = b[11];
    c.ByteOrder = b[12];
    c.OutStyle = b[13];
    c.OutMode = b[14];
    c.LockFlag = b[15];
    std::copy_n(b.begin() + 16, c.ConfigPassword.size(), c.ConfigPassword.begin());
    c.PasswordEnable = b[20];
    return c;
}

ConfigBuildResult BuildMasterCardConfig(const MasterCardSettings& s) {
    ConfigBuildResult result;
    MasterCardConfig& c = result.config;
    const bool modeOne = s.RadioGroup_outdatamode0_1 == 1;

    if (modeOne) {
        const int sector = Chosen(s.ComboBox_SectorNum, 40);
        c.OutDataMode = 0xFE;
        c.SectorNum = static_cast<std::uint8_t>(sector);
        c.BlockNum = BlockNumber(sector, Chosen(s.ComboBox_BlockNum, 16));
    } else {
        c.OutDataMode = 0x01;
    }
    c.ContentParameter = ContentParameterFor(s.RadioGroup_content_parameter);

    if (modeOne) {
        c.KeyType = static_cast<std::uint8_t>(Chosen(s.RadioGroup_KeyCheck, 2));
        if (!ParseHexField(s.Edit_KeyCheck, c.SectorKey)) {
            result.failure = ConfigFailure::KeyText;
            return result;
        }
        const int start = Chosen(s.ComboBox_BlockStartAdr, 16);
        const int end = Chosen(s.ComboBox_BlockEndAdr, 16);
        if (end < start || end > start + kMaxAddressSpan) {
            result.failure = ConfigFailure::AddressRange;
            return result;
        }
        c.BlockAdr = static_cast<std::uint8_t>(end * 16 + start);
    } else {
        c.SectorKey = kModeZeroKeyFiller;
        c.BlockAdr = 0x40;
    }

    if (s.RadioButton_OrderLow) c.ByteOrder = 0;
    if (s.RadioButton_OrderHigh) c.ByteOrder = 1;
    c.OutStyle = OutStyleFor(s);
    c.OutMode = static_cast<std::uint8_t>(Chosen(s.RadioGroup_Outmode, 2));
    c.LockFlag = s.CheckBox_cardflagsave ? kLockOn : kLockOff;

    if (!ParseHexField(s.Edit_KeySet, c.ConfigPassword)) {
        result.failure = ConfigFailure::PasswordText;
        return result;
    }
    // Item 0 is "enable" and gives 1; item 1 "disable" gives 0.
    c.PasswordEnable = s.RadioGroup_KeySet == 0 ? 1 : 0;
    return result;
}

std::uint8_t FrameChecksum(const MasterCardConfig& config) {
    std::uint8_t sum = 0;
    for (std::uint8_t b : kFrameHeader) sum ^= b;
    for (std::uint8_t b : config.Bytes()) sum ^= b;
    return sum;
}

std::string BuildConfigFrame(const MasterCardConfig& config) {
    std::string text;
    text.reserve(52);
    for (std::uint8_t b : kFrameHeader) text += ByteToHex(b);
    for (std::uint8_t b : config.Bytes()) text += ByteToHex(b);
    text += ByteToHex(FrameChecksum(config));
    text += ByteToHex(kFrameTrailer);
    return text;
}

}  // namespace mastercard
