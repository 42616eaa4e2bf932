// The writer device's side of the line, without any I/O: reading a
// configuration frame back into its record, describing a record in plain
// words, and the device's request/reply behaviour with faults that tests can
// switch on. The simulated writer device (tools/writer-sim) puts this on a
// pseudo-terminal.
#pragma once

#include "mastercard/master_card_config.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mastercard {

inline constexpr std::size_t kConfigFrameSize = 26;

// Why a received frame is refused; checked in this order.
enum class FrameFault {
    None,
    Size,      // not exactly 26 bytes
    Header,    // does not start with AA 20
    Length,    // third byte is not 0x15, the record's length
    Checksum,  // byte 24 is not the exclusive-or of bytes 0 to 23
    Trailer,   // last byte is not 0x03
};

struct ParsedConfigFrame {
    FrameFault fault = FrameFault::None;
    // Filled whenever the frame has 26 bytes, even when it is refused, so a
    // bad frame can still be shown decoded.
    MasterCardConfig config;
};

ParsedConfigFrame ParseConfigFrame(std::string_view frame);

// A short English reason, e.g. "bad checksum"; "valid" for None.
std::string DescribeFrameFault(FrameFault fault);

// One plain English line per setting, in record order, e.g.
// "Output data mode: 1 (sector data after the key) [FE]", so an operator can
// check what a reader configured by the card will do.
std::vector<std::string> DescribeMasterCardConfig(const MasterCardConfig& config);

// The three replies the device gives.
enum class Exchange { Handshake, Prompt, Status };

struct ExchangeSet {
    bool handshake = false;
    bool prompt = false;
    bool status = false;

    static ExchangeSet All() { return {true, true, true}; }
    bool Has(Exchange e) const;
    bool operator==(const ExchangeSet&) const = default;
};

inline constexpr std::uint8_t kStatusSuccess = 0x00;
inline constexpr std::uint8_t kStatusFailure = 0xFF;

// Ways the device can misbehave. The defaults are a well-behaved device.
struct WriterFaults {
    ExchangeSet silent;                  // replies that are never sent
    std::string handshake_reply = "\x06";  // what 0x02 is answered with (may be empty)
    std::string prompt_extra;            // bytes that follow the 02 prompt in the same write
    std::size_t status_length = 5;       // shorter: cut; longer: padded with 00
    std::optional<std::uint8_t> status;  // reported whatever the frame was
    int reply_delay_ms = 0;              // before the first byte of a reply
    ExchangeSet delayed = ExchangeSet::All();  // replies the delay applies to
    int chunk_delay_ms = 0;              // between pieces of one reply
    // Piece sizes in order, the last one repeating. Empty: the whole reply
    // in one piece, or one byte a piece when chunk_delay_ms is set.
    std::vector<std::size_t> chunk_sizes;
};

// One write of the device: `bytes` go out `delay_ms` after the previous
// piece, or after the request for the first piece of a reply.
struct ReplyPiece {
    int delay_ms = 0;
    std::string bytes;
    bool operator==(const ReplyPiece&) const = default;
};

// The status reply to an acknowledge: 20 (the command it answers), the
// status byte, two reserved zero bytes, 03.
std::string StatusReply(std::uint8_t status);

// How a reply goes on the wire under the given faults.
std::vector<ReplyPiece> SplitReply(std::string_view reply, Exchange exchange,
                                   const WriterFaults& faults);

// What the device made of the bytes it received, one entry per request.
struct WriterStep {
    enum class Kind {
        Handshake,    // 0x02 outside a frame
        Frame,        // 26 bytes starting with 0xAA
        Acknowledge,  // 0x06 after a prompt
        Stray,        // bytes that mean nothing in the device's state
    };
    Kind kind = Kind::Stray;
    std::string received;           // the request's bytes
    ParsedConfigFrame frame;        // Frame only
    std::optional<Exchange> reply;  // the reply it calls for, if any
    std::string reply_bytes;        // the reply's bytes after faults (may be empty)
    std::vector<ReplyPiece> pieces; // how they go out; empty when nothing is sent
};

// The device's request/reply behaviour. It reads bytes in any chunking:
// outside a frame, 0x02 is a handshake and 0xAA starts a 26-byte frame, whose
// bytes are then all taken as frame content whatever their value, so a 0x02
// inside a record is never mistaken for a handshake. After a frame the device
// prompts with 0x02 and answers the acknowledge 0x06 with the status reply:
// success for a valid frame, failure for a refused one.
class WriterDevice {
public:
    explicit WriterDevice(WriterFaults faults = {});

    std::vector<WriterStep> Receive(std::string_view bytes);

    // A frame the program stopped sending half-way would otherwise swallow
    // the next handshake as record bytes; the host calls this after a quiet
    // gap on the line. Returns the bytes dropped.
    std::string AbandonPartialFrame();
    bool AssemblingFrame() const { return !partial_frame_.empty(); }

    // Every complete frame received so far, valid or not, in order.
    const std::vector<std::string>& Frames() const { return frames_; }

    const WriterFaults& Faults() const { return faults_; }

private:
    WriterStep Answer(WriterStep step, Exchange exchange, std::string reply);

    WriterFaults faults_;
    std::string partial_frame_;
    // Status owed for the last frame until the program acknowledges it.
    std::optional<std::uint8_t> pending_status_;
    std::vector<std::string> frames_;
};

}  // namespace mastercard
