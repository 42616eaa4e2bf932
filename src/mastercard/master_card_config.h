// The 21-byte configuration record a master card carries to a card reader,
// and the 26-byte frame in which it travels to the writer device.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace mastercard {

// What the main window holds at the moment of generation, read straight from
// its controls: each radio group's and list's chosen item index (-1 when none
// is chosen), the checked states and the two edit texts. Fields carry the
// names of the controls they come from; the defaults are the window's
// initial state.
struct MasterCardSettings {
    int RadioGroup_outdatamode0_1 = 0;   // 0: serial number, 1: sector data
    int RadioGroup_content_parameter = 0;
    int ComboBox_SectorNum = 0;          // item index equals the sector number
    int ComboBox_BlockNum = 0;
    int RadioGroup_KeyCheck = 0;         // 0: key A, 1: key B
    std::string Edit_KeyCheck = "3C5A7E91B2D4";  // 12 hex digits, high byte first
    int ComboBox_BlockStartAdr = 0;
    int ComboBox_BlockEndAdr = 4;
    bool RadioButton_OrderLow = true;
    bool RadioButton_OrderHigh = false;
    int RadioGroup_OutStyle_bit7 = 0;
    int RadioGroup_OutStyle_bit6 = 0;
    int RadioGroup_OutStyle_bit5 = 0;
    int RadioGroup_OutStyle_bit4 = 0;
    int RadioGroup_OutStyle_bit3 = 1;
    int RadioGroup_OutStyle_bit2 = 0;
    int RadioGroup_bandrate_OutStyle_bit1_0 = 0;
    int RadioGroup_Outmode = 0;
    bool CheckBox_cardflagsave = false;
    std::string Edit_KeySet = "6E2B94D1";        // 8 hex digits
    int RadioGroup_KeySet = 1;           // 0: enabled, 1: disabled
};

struct MasterCardConfig {
    std::uint8_t OutDataMode = 0;
    std::uint8_t ContentParameter = 0;
    std::uint8_t SectorNum = 0;
    std::uint8_t BlockNum = 0;
    std::uint8_t KeyType = 0;
    std::array<std::uint8_t, 6> SectorKey{};
    std::uint8_t BlockAdr = 0;
    std::uint8_t ByteOrder = 0;
    std::uint8_t OutStyle = 0;
    std::uint8_t OutMode = 0;
    std::uint8_t LockFlag = 0;
    std::array<std::uint8_t, 4> ConfigPassword{};
    std::uint8_t PasswordEnable = 0;

    static constexpr std::size_t kSize = 21;
    // The record in offset order, byte 0 first.
    std::array<std::uint8_t, kSize> Bytes() const;
    // The record read back from its bytes, byte 0 first.
    static MasterCardConfig FromBytes(const std::array<std::uint8_t, kSize>& bytes);

    bool operator==(const MasterCardConfig&) const = default;
};

// The three ways the operator's settings can be refused, in the order they
// are checked; only the first one found is reported.
enum class ConfigFailure { None, KeyText, AddressRange, PasswordText };

struct ConfigBuildResult {
    ConfigFailure failure = ConfigFailure::None;
    MasterCardConfig config;  // meaningful only when failure is None
};

// The factory key of these cards, written as the sector key of every
// mode-0 record.
inline constexpr std::array<std::uint8_t, 6> kModeZeroKeyFiller{0xFF, 0xFF, 0xFF,
                                                                 0xFF, 0xFF, 0xFF};

ConfigBuildResult BuildMasterCardConfig(const MasterCardSettings& settings);

// The frame as plain hex text, 52 characters: AA 20 15, the record, the
// exclusive-or checksum of the first 24 frame bytes, 03.
std::string BuildConfigFrame(const MasterCardConfig& config);

// Exclusive-or of the frame header AA 20 15 and the 21 record bytes.
std::uint8_t FrameChecksum(const MasterCardConfig& config);

}  // namespace mastercard
