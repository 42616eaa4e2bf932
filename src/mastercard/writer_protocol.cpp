#include "mastercard/writer_protocol.h"

#include "mastercard/hex_codec.h"

#include <algorithm>

namespace mastercard {
namespace {

constexpr std::uint8_t kHandshake = 0x02;
constexpr std::uint8_t kFrameStart = 0xAA;
constexpr std::uint8_t kFrameCommand = 0x20;
constexpr std::uint8_t kFrameTrailer = 0x03;
constexpr std::uint8_t kPrompt = 0x02;
constexpr std::uint8_t kAcknowledge = 0x06;
constexpr std::uint8_t kModeZero = 0x01;
constexpr std::uint8_t kModeOne = 0xFE;
constexpr std::uint8_t kLockOn = 0x5C;
constexpr std::uint8_t kLockOff = 0xCC;
constexpr std::size_t kRecordOffset = 3;
constexpr std::size_t kChecksumOffset = 24;

std::uint8_t At(std::string_view bytes, std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); }

template <std::size_t N>
std::string SpacedHex(const std::array<std::uint8_t, N>& bytes) {
    return BytesToHex(std::string(bytes.begin(), bytes.end()));
}

std::string Decimal(int value) { return std::to_string(value); }

std::string WithRaw(std::string text, std::uint8_t raw) { return text + " [" + ByteToHex(raw) + "]"; }

std::string OutDataModeText(std::uint8_t v) {
    if (v == kModeZero) return WithRaw("0 (the card's serial number)", v);
    if (v == kModeOne) return WithRaw("1 (sector data after the key)", v);
    return WithRaw("unknown", v);
}

std::string ContentParameterText(std::uint8_t v) {
    switch (v) {
    case 0x81: return WithRaw("8H", v);
    case 0x61: return WithRaw("6H", v);
    case 0x42: return WithRaw("4H+2H", v);
    default: return WithRaw("unknown", v);
    }
}

// Sectors 0-31 hold four blocks each (blocks 0-127), sectors 32-39 sixteen.
std::string BlockText(std::uint8_t block, std::uint8_t sector) {
    const int sectorOfBlock = block < 128 ? block / 4 : 32 + (block - 128) / 16;
    const int indexInSector = block < 128 ? block % 4 : (block - 128) % 16;
    std::string text = Decimal(block) + " (block " + Decimal(indexInSector) + " of sector " +
                       Decimal(sectorOfBlock) + ")";
    if (sectorOfBlock != sector) text += ", not in the chosen sector " + Decimal(sector);
    return text;
}

std::string KeyTypeText(std::uint8_t v) {
    if (v == 0) return "0 (key A)";
    if (v == 1) return "1 (key B)";
    return WithRaw("unknown", v);
}

std::string AddressText(std::uint8_t v) {
    const int start = v & 0x0F;
    const int end = v >> 4;
    std::string text = "bytes " + Decimal(start) + " to " + Decimal(end) + " of the block";
    if (end < start || end > start + 4) {
        text += " (not a valid range: one to five bytes)";
    } else {
        const int count = end - start + 1;
        text += " (" + Decimal(count) + (count == 1 ? " byte)" : " bytes)");
    }
    return WithRaw(text, v);
}

std::string ByteOrderText(std::uint8_t v) {
    if (v == 0) return "0 (low byte first)";
    if (v == 1) return "1 (high byte first)";
    return WithRaw("unknown", v);
}

struct StyleBit {
    int bit;
    const char* name;
    const char* clear;  // the first item of its group
    const char* set;
};

constexpr StyleBit kStyleBits[] = {
    {7, "Output digits", "pad to ten digits", "actual digits"},
    {6, "Start character 02H", "with", "without"},
    {5, "Carriage return", "with", "without"},
    {4, "Line feed", "with", "without"},
    {3, "Checksum", "with", "without"},
    {2, "End character 03H", "with", "without"},
};

std::string BaudRateText(std::uint8_t outStyle) {
    switch (outStyle & 0x03) {
    case 0: return "0 (9600)";
    case 1: return "1 (19200)";
    case 2: return "2 (38400)";
    default: return "3 (not a baud rate)";
    }
}

std::string OutModeText(std::uint8_t v) {
    if (v == 0) return "0 (decimal)";
    if (v == 1) return "1 (hexadecimal)";
    return WithRaw("unknown", v);
}

std::string LockText(std::uint8_t v) {
    if (v == kLockOn) return WithRaw("on (the reader's configuration can no longer be changed)", v);
    if (v == kLockOff) return WithRaw("off", v);
    return WithRaw("unknown", v);
}

std::string PasswordEnableText(std::uint8_t v) {
    if (v == 1) return "1 (enabled)";
    if (v == 0) return "0 (disabled)";
    return WithRaw("unknown", v);
}

}  // namespace

ParsedConfigFrame ParseConfigFrame(std::string_view frame) {
    ParsedConfigFrame parsed;
    if (frame.size() != kConfigFrameSize) {
        parsed.fault = FrameFault::Size;
        return parsed;
    }
    std::array<std::uint8_t, MasterCardConfig::kSize> record{};
    for (std::size_t i = 0; i < record.size(); ++i) record[i] = At(frame, kRecordOffset + i);
    parsed.config = MasterCardConfig::FromBytes(record);

    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < kChecksumOffset; ++i) sum ^= At(frame, i);

    if (At(frame, 0) != kFrameStart || At(frame, 1) != kFrameCommand) {
        parsed.fault = FrameFault::Header;
    } else if (At(frame, 2) != MasterCardConfig::kSize) {
        parsed.fault = FrameFault::Length;
    } else if (At(frame, kChecksumOffset) != sum) {
        parsed.fault = FrameFault::Checksum;
    } else if (At(frame, kConfigFrameSize - 1) != kFrameTrailer) {
        parsed.fault = FrameFault::Trailer;
    }
    return parsed;
}

std::string DescribeFrameFault(FrameFault fault) {
    switch (fault) {
    case FrameFault::None: return "valid";
    case FrameFault::Size: return "not 26 bytes";
    case FrameFault::Header: return "bad header (not AA 20)";
    case FrameFault::Length: return "bad length byte (not 15)";
    case FrameFault::Checksum: return "bad checksum";
    case FrameFault::Trailer: return "bad trailer (not 03)";
    }
    return "unknown fault";
}

std::vector<std::string> DescribeMasterCardConfig(const MasterCardConfig& c) {
    // In mode 0 the reader outputs the serial number and never reads a
    // sector, so those settings are shown but marked as having no effect.
    const std::string unused = c.OutDataMode == kModeZero ? " (not used in mode 0)" : "";
    std::vector<std::string> lines;
    lines.push_back("Output data mode: " + OutDataModeText(c.OutDataMode));
    lines.push_back("Content parameter: " + ContentParameterText(c.ContentParameter));
    lines.push_back("Sector: " + Decimal(c.SectorNum) + unused);
    lines.push_back("Block: " + BlockText(c.BlockNum, c.SectorNum) + unused);
    lines.push_back("Key type: " + KeyTypeText(c.KeyType) + unused);
    lines.push_back("Sector key: " + SpacedHex(c.SectorKey) + unused);
    lines.push_back("Address range: " + AddressText(c.BlockAdr) + unused);
    lines.push_back("Byte order: " + ByteOrderText(c.ByteOrder));
    for (const StyleBit& s : kStyleBits) {
        const bool set = (c.OutStyle >> s.bit) & 1;
        lines.push_back(std::string(s.name) + " (bit " + Decimal(s.bit) + "): " + (set ? "1 (" : "0 (") +
                        (set ? s.set : s.clear) + ")");
    }
    lines.push_back("Baud rate (bits 1-0): " + BaudRateText(c.OutStyle));
    lines.push_back("Output mode: " + OutModeText(c.OutMode));
    lines.push_back("Lock: " + LockText(c.LockFlag));
    lines.push_back("Password: " + SpacedHex(c.ConfigPassword));
    lines.push_back("Password enable: " + PasswordEnableText(c.PasswordEnable));
    return lines;
}

bool ExchangeSet::Has(Exchange e) const {
    switch (e) {
    case Exchange::Handshake: return handshake;
    case Exchange::Prompt: return prompt;
    case Exchange::Status: return status;
    }
    return false;
}

std::string StatusReply(std::uint8_t status) {
    return std::string{static_cast<char>(kFrameCommand), static_cast<char>(status), '\0', '\0',
                       static_cast<char>(kFrameTrailer)};
}

std::vector<ReplyPiece> SplitReply(std::string_view reply, Exchange exchange, const WriterFaults& faults) {
    std::vector<ReplyPiece> pieces;
    const bool chunked = faults.chunk_delay_ms > 0 || !faults.chunk_sizes.empty();
    int delay = faults.delayed.Has(exchange) ? faults.reply_delay_ms : 0;
    std::size_t next = 0;
    for (std::size_t offset = 0; offset < reply.size();) {
        std::size_t size = reply.size();
        if (chunked) {
            size = 1;
            if (!faults.chunk_sizes.empty()) {
                size = faults.chunk_sizes[std::min(next, faults.chunk_sizes.size() - 1)];
                ++next;
            }
            size = std::max<std::size_t>(size, 1);  // a zero size would never finish
        }
        pieces.push_back({delay, std::string(reply.substr(offset, size))});
        offset += std::min(size, reply.size() - offset);
        delay = faults.chunk_delay_ms;
    }
    return pieces;
}

WriterDevice::WriterDevice(WriterFaults faults) : faults_(std::move(faults)) {}

WriterStep WriterDevice::Answer(WriterStep step, Exchange exchange, std::string reply) {
    step.reply = exchange;
    if (!faults_.silent.Has(exchange)) {
        step.reply_bytes = std::move(reply);
        step.pieces = SplitReply(step.reply_bytes, exchange, faults_);
    }
    return step;
}

std::vector<WriterStep> WriterDevice::Receive(std::string_view bytes) {
    std::vector<WriterStep> steps;
    auto stray = [&steps](char byte) {
        if (steps.empty() || steps.back().kind != WriterStep::Kind::Stray) steps.push_back({});
        steps.back().received.push_back(byte);
    };

    for (char byte : bytes) {
        const auto value = static_cast<std::uint8_t>(byte);
        if (!partial_frame_.empty()) {
            partial_frame_.push_back(byte);
            if (partial_frame_.size() < kConfigFrameSize) continue;

            WriterStep step;
            step.kind = WriterStep::Kind::Frame;
            step.received = std::move(partial_frame_);
            partial_frame_.clear();
            step.frame = ParseConfigFrame(step.received);
            frames_.push_back(step.received);
            const bool valid = step.frame.fault == FrameFault::None;
            pending_status_ = faults_.status.value_or(valid ? kStatusSuccess : kStatusFailure);
            std::string prompt(1, static_cast<char>(kPrompt));
            steps.push_back(Answer(std::move(step), Exchange::Prompt, prompt + faults_.prompt_extra));
        } else if (value == kFrameStart) {
            partial_frame_.push_back(byte);
        } else if (value == kHandshake) {
            // A new handshake means the program has started over; whatever
            // it left unacknowledged is forgotten.
            pending_status_.reset();
            WriterStep step;
            step.kind = WriterStep::Kind::Handshake;
            step.received.push_back(byte);
            steps.push_back(Answer(std::move(step), Exchange::Handshake, faults_.handshake_reply));
        } else if (value == kAcknowledge && pending_status_) {
            std::string reply = StatusReply(*pending_status_);
            pending_status_.reset();
            reply.resize(faults_.status_length, '\0');
            WriterStep step;
            step.kind = WriterStep::Kind::Acknowledge;
            step.received.push_back(byte);
            steps.push_back(Answer(std::move(step), Exchange::Status, std::move(reply)));
        } else {
            stray(byte);
        }
    }
    return steps;
}

std::string WriterDevice::AbandonPartialFrame() {
    std::string dropped = std::move(partial_frame_);
    partial_frame_.clear();
    return dropped;
}

}  // namespace mastercard
