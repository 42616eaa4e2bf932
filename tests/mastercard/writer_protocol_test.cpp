#include "mastercard/writer_protocol.h"

#include "mastercard/hex_codec.h"
#include "mastercard/master_card_config.h"

#include <gtest/gtest.h>


using namespace mastercard;

namespace {

std::string FrameOf(const MasterCardConfig& c) { return HexToBytes(BuildConfigFrame(c)); }

std::string DefaultFrame() { return FrameOf(BuildMasterCardConfig(MasterCardSettings{}).config); }

// A mode-1 record with a 02 and a 06 inside it, so a device that looked at
// single bytes instead of frame positions would mistake them for requests.
MasterCardConfig ModeOneConfig() {
    MasterCardSettings s;
    s.RadioGroup_outdatamode0_1 = 1;
    s.ComboBox_SectorNum = 33;
    s.ComboBox_BlockNum = 5;
    s.RadioGroup_KeyCheck = 1;
    s.Edit_KeyCheck = "020602060206";
    s.ComboBox_BlockStartAdr = 11;
    s.ComboBox_BlockEndAdr = 15;
    s.RadioButton_OrderLow = false;
    s.RadioButton_OrderHigh = true;
    s.RadioGroup_bandrate_OutStyle_bit1_0 = 2;
    s.RadioGroup_Outmode = 1;
    s.CheckBox_cardflagsave = true;
    s.Edit_KeySet = "AA020603";
    s.RadioGroup_KeySet = 0;
    return BuildMasterCardConfig(s).config;
}

std::string Sent(const WriterStep& step) {
    std::string out;
    for (const ReplyPiece& p : step.pieces) out += p.bytes;
    return out;
}

// Feeds the bytes one at a time, the worst chunking a line can give.
std::vector<WriterStep> ByteByByte(WriterDevice& device, std::string_view bytes) {
    std::vector<WriterStep> all;
    for (char b : bytes) {
        for (WriterStep& s : device.Receive(std::string_view(&b, 1))) all.push_back(std::move(s));
    }
    return all;
}


}  // namespace

TEST(ParseConfigFrame, ReadsBackTheRecordEvenOfARefusedFrame) {
    std::string frame = FrameOf(ModeOneConfig());
    EXPECT_EQ(ParseConfigFrame(frame).fault, FrameFault::None);
    EXPECT_EQ(ParseConfigFrame(frame).config, ModeOneConfig());
    frame[24] = static_cast<char>(frame[24] ^ 0xFF);
    EXPECT_EQ(ParseConfigFrame(frame).fault, FrameFault::Checksum);
    EXPECT_EQ(ParseConfigFrame(frame).config, ModeOneConfig());
}

TEST(ParseConfigFrame, ReadsEachFieldFromItsOwnOffset) {
    // Every record byte differs from every other, written out as sent.
    const ParsedConfigFrame parsed =
        ParseConfigFrame(HexToBytes("AA2015A142279C05112233445567B70CD80E5C718293E46A6B03"));
    EXPECT_EQ(parsed.fault, FrameFault::None);
    const MasterCardConfig& c = parsed.config;
    EXPECT_EQ(c.OutDataMode, 0xA1);
    EXPECT_EQ(c.ContentParameter, 0x42);
    EXPECT_EQ(c.SectorNum, 0x27);
    EXPECT_EQ(c.BlockNum, 0x9C);
    EXPECT_EQ(c.KeyType, 0x05);
    EXPECT_EQ(c.SectorKey, (std::array<std::uint8_t, 6>{0x11, 0x22, 0x33, 0x44, 0x55, 0x67}));
    EXPECT_EQ(c.BlockAdr, 0xB7);
    EXPECT_EQ(c.ByteOrder, 0x0C);
    EXPECT_EQ(c.OutStyle, 0xD8);
    EXPECT_EQ(c.OutMode, 0x0E);
    EXPECT_EQ(c.LockFlag, 0x5C);
    EXPECT_EQ(c.ConfigPassword, (std::array<std::uint8_t, 4>{0x71, 0x82, 0x93, 0xE4}));
    EXPECT_EQ(c.PasswordEnable, 0x6A);
}

TEST(ParseConfigFrame, NamesEachWayAFrameIsBad) {
    const std::string good = DefaultFrame();
    auto with = [&good](std::size_t at, std::uint8_t value) {
        std::string f = good;
        f[at] = static_cast<char>(value);
        return ParseConfigFrame(f).fault;
    };
    EXPECT_EQ(ParseConfigFrame(good.substr(0, 25)).fault, FrameFault::Size);
    EXPECT_EQ(ParseConfigFrame(good + '\x03').fault, FrameFault::Size);
    EXPECT_EQ(ParseConfigFrame("").fault, FrameFault::Size);
    EXPECT_EQ(with(0, 0xAB), FrameFault::Header);
    EXPECT_EQ(with(1, 0x21), FrameFault::Header);
    EXPECT_EQ(with(2, 0x14), FrameFault::Length);
    EXPECT_EQ(with(24, static_cast<std::uint8_t>(good[24]) ^ 0x01), FrameFault::Checksum);
    EXPECT_EQ(with(10, 0x00), FrameFault::Checksum);  // a record byte changed in transit
    EXPECT_EQ(with(25, 0x04), FrameFault::Trailer);
}

// The lines an operator checks a card by; the decodings that are easy to get
// wrong are the packed ones: nibbles, bit numbers, block numbers.
TEST(DescribeMasterCardConfig, DecodesPackedFieldsInPlainWords) {
    const auto defaults = DescribeMasterCardConfig(BuildMasterCardConfig(MasterCardSettings{}).config);
    ASSERT_EQ(defaults.size(), 19u);  // one line per setting, each output-style bit its own
    EXPECT_EQ(defaults[0], "Output data mode: 0 (the card's serial number) [01]");
    EXPECT_EQ(defaults[6], "Address range: bytes 0 to 4 of the block (5 bytes) [40] (not used in mode 0)");
    EXPECT_EQ(defaults[12], "Checksum (bit 3): 1 (without)");
    EXPECT_EQ(defaults[13], "End character 03H (bit 2): 0 (with)");

    MasterCardConfig c = ModeOneConfig();
    auto lines = DescribeMasterCardConfig(c);
    EXPECT_EQ(lines[0], "Output data mode: 1 (sector data after the key) [FE]");
    EXPECT_EQ(lines[3], "Block: 149 (block 5 of sector 33)");
    EXPECT_EQ(lines[6], "Address range: bytes 11 to 15 of the block (5 bytes) [FB]");
    EXPECT_EQ(lines[14], "Baud rate (bits 1-0): 2 (38400)");
    EXPECT_EQ(lines[16], "Lock: on (the reader's configuration can no longer be changed) [5C]");

    // A block left from another card type (S70 sector 35 block 10, then
    // S50 chosen) lies outside the chosen sector; the window never makes
    // an inverted range or baud value 3.
    c.SectorNum = 0;
    c.BlockNum = 10;
    c.BlockAdr = 0x45;
    c.OutStyle = 0xFF;
    lines = DescribeMasterCardConfig(c);
    EXPECT_EQ(lines[3], "Block: 10 (block 2 of sector 2), not in the chosen sector 0");
    EXPECT_EQ(lines[6], "Address range: bytes 5 to 4 of the block (not a valid range: one to five bytes) [45]");
    EXPECT_EQ(lines[14], "Baud rate (bits 1-0): 3 (not a baud rate)");
}

TEST(WriterDevice, WholeExchangeInAnyChunkingWithRequestLikeBytesInTheFrame) {
    const std::string frame = FrameOf(ModeOneConfig());
    ASSERT_NE(frame.find('\x02'), std::string::npos);
    ASSERT_NE(frame.find('\x06'), std::string::npos);

    for (bool oneByteAtATime : {false, true}) {
        WriterDevice device;
        const std::string all = std::string("\x02") + frame + "\x06";
        auto steps = oneByteAtATime ? ByteByByte(device, all) : device.Receive(all);
        ASSERT_EQ(steps.size(), 3u) << oneByteAtATime;
        EXPECT_EQ(steps[0].kind, WriterStep::Kind::Handshake);
        EXPECT_EQ(steps[1].kind, WriterStep::Kind::Frame);
        EXPECT_EQ(steps[1].received, frame);
        EXPECT_EQ(steps[1].frame.config, ModeOneConfig());
        EXPECT_EQ(Sent(steps[0]), "\x06");
        EXPECT_EQ(Sent(steps[1]), "\x02");
        EXPECT_EQ(steps[2].kind, WriterStep::Kind::Acknowledge);
        EXPECT_EQ(Sent(steps[2]), std::string("\x20\x00\x00\x00\x03", 5));
        EXPECT_EQ(device.Frames(), std::vector<std::string>{frame});
    }
}

TEST(WriterDevice, RefusedFrameIsStillPromptedButReportsFailure) {
    std::string bad = DefaultFrame();
    bad[24] = static_cast<char>(bad[24] ^ 0x01);
    std::string badHeader = DefaultFrame();
    badHeader[1] = 0x21;
    for (const std::string& frame : {bad, badHeader}) {
        WriterDevice device;
        auto steps = device.Receive(frame);
        ASSERT_EQ(steps.size(), 1u);
        EXPECT_NE(steps[0].frame.fault, FrameFault::None);
        EXPECT_EQ(Sent(steps[0]), "\x02");
        EXPECT_EQ(Sent(device.Receive("\x06").at(0))[1], '\xFF');
    }
}

TEST(WriterDevice, BytesWithoutMeaningAreReportedAndIgnored) {
    WriterDevice device;
    // An acknowledge with no frame before it is as meaningless as noise.
    auto steps = device.Receive(std::string("\x06\x15\x00\x02", 4));
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].kind, WriterStep::Kind::Stray);
    EXPECT_EQ(steps[0].received, std::string("\x06\x15\x00", 3));
    EXPECT_TRUE(steps[0].pieces.empty());
    EXPECT_EQ(steps[1].kind, WriterStep::Kind::Handshake);

    // A status is owed once: a second acknowledge gets nothing.
    device.Receive(DefaultFrame());
    EXPECT_EQ(device.Receive("\x06").at(0).kind, WriterStep::Kind::Acknowledge);
    EXPECT_EQ(device.Receive("\x06").at(0).kind, WriterStep::Kind::Stray);

    // A new handshake means the program started over: nothing is owed.
    device.Receive(DefaultFrame());
    device.Receive("\x02");
    EXPECT_EQ(device.Receive("\x06").at(0).kind, WriterStep::Kind::Stray);
}

TEST(WriterDevice, AbandonedPartialFrameLetsTheNextHandshakeThrough) {
    WriterDevice device;
    device.Receive(DefaultFrame().substr(0, 10));
    EXPECT_TRUE(device.AssemblingFrame());
    EXPECT_EQ(device.AbandonPartialFrame(), DefaultFrame().substr(0, 10));
    EXPECT_FALSE(device.AssemblingFrame());
    auto steps = device.Receive("\x02");
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].kind, WriterStep::Kind::Handshake);
    EXPECT_TRUE(device.Frames().empty());
}

// The other reply faults are exercised through writer-sim's options.
TEST(WriterDeviceFaults, PaddedStatusAndUnansweredHandshake) {
    WriterFaults faults;
    faults.status_length = 7;
    faults.handshake_reply = "";
    WriterDevice device(faults);
    const WriterStep handshake = device.Receive("\x02").at(0);
    EXPECT_EQ(handshake.reply, Exchange::Handshake);
    EXPECT_TRUE(handshake.pieces.empty());
    device.Receive(DefaultFrame());
    EXPECT_EQ(Sent(device.Receive("\x06").at(0)), std::string("\x20\x00\x00\x00\x03\x00\x00", 7));
}

TEST(SplitReply, DelaysAndChunks) {
    const std::string status = StatusReply(0);
    WriterFaults faults;
    EXPECT_EQ(SplitReply(status, Exchange::Status, faults), (std::vector<ReplyPiece>{{0, status}}));

    faults.reply_delay_ms = 1600;
    faults.delayed = {};
    faults.delayed.handshake = true;
    EXPECT_EQ(SplitReply("\x06", Exchange::Handshake, faults), (std::vector<ReplyPiece>{{1600, "\x06"}}));
    EXPECT_EQ(SplitReply("\x02", Exchange::Prompt, faults), (std::vector<ReplyPiece>{{0, "\x02"}}));

    faults = {};
    faults.chunk_delay_ms = 30;  // one byte at a time
    const auto bytes = SplitReply(status, Exchange::Status, faults);
    ASSERT_EQ(bytes.size(), 5u);
    EXPECT_EQ(bytes[0].delay_ms, 0);
    EXPECT_EQ(bytes[4], (ReplyPiece{30, "\x03"}));

    faults.reply_delay_ms = 100;
    faults.chunk_sizes = {3, 2};
    EXPECT_EQ(SplitReply(status, Exchange::Status, faults),
              (std::vector<ReplyPiece>{{100, status.substr(0, 3)}, {30, status.substr(3)}}));

    // Each size in turn, the last one repeating.
    faults.chunk_sizes = {1, 3};
    EXPECT_EQ(SplitReply("ABCDEFG", Exchange::Status, faults),
              (std::vector<ReplyPiece>{{100, "A"}, {30, "BCD"}, {30, "EFG"}}));

    faults.chunk_sizes = {2};  // the last size repeats; the end may be short
    EXPECT_EQ(SplitReply(status, Exchange::Status, faults).size(), 3u);
    faults.chunk_sizes = {0};  // never a piece that makes no progress
    EXPECT_EQ(SplitReply(status, Exchange::Status, faults).size(), 5u);
    EXPECT_TRUE(SplitReply("", Exchange::Handshake, faults).empty());
}
