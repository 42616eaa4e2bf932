#include "command_line.h"

#include "mastercard/hex_codec.h"

#include <charconv>
#include <sstream>

namespace writersim {
namespace {

constexpr int kMaxDelayMs = 600000;
constexpr std::size_t kMaxStatusLength = 64;

bool ParseInt(const std::string& text, int low, int high, int& out) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < low || value > high) return false;
    out = value;
    return true;
}

// Bytes as hexadecimal digits, blanks allowed between them: "06", "06 06",
// "0606". The empty text is no bytes.
bool ParseHex(const std::string& text, std::string& out) {
    std::string digits;
    for (char c : text) {
        if (c != ' ') digits.push_back(c);
    }
    if (digits.size() % 2 != 0 || !mastercard::IsHexText(digits)) return false;
    out = mastercard::HexToBytes(digits);
    return true;
}

bool ParseExchanges(const std::string& text, mastercard::ExchangeSet& out) {
    mastercard::ExchangeSet set;
    std::stringstream items(text);
    std::string item;
    int count = 0;
    while (std::getline(items, item, ',')) {
        if (item == "handshake") set.handshake = true;
        else if (item == "prompt") set.prompt = true;
        else if (item == "status") set.status = true;
        else if (item == "all") set = mastercard::ExchangeSet::All();
        else return false;
        ++count;
    }
    if (count == 0) return false;
    out = set;
    return true;
}

bool ParseSizes(const std::string& text, std::vector<std::size_t>& out) {
    std::vector<std::size_t> sizes;
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        int size = 0;
        if (!ParseInt(item, 1, 64, size)) return false;
        sizes.push_back(static_cast<std::size_t>(size));
    }
    if (sizes.empty()) return false;
    out = std::move(sizes);
    return true;
}

}  // namespace

std::string Usage() {
    return R"(Usage: writer-sim [OPTION]...
A simulated master-card writer device on a pseudo-terminal. It answers the
handshake 02 with 06, a 26-byte configuration frame with the prompt 02, and
the acknowledge 06 with the five-byte status reply 20 SS 00 00 03, where SS is
00 for a valid frame and FF for a refused one. Each exchange and each card's
configuration is printed on standard output; the line "ready" follows once the
device can be opened.

Where the device is:
  --port-dir DIR         link the device as DIR/com<N> (needs --com); without
                         both, only the pseudo-terminal's path is printed
  --com N                the COM number of that link, 1 to 255
  --exit-on-stdin-eof    stop when standard input is closed
  --frame-gap MS         drop a frame whose bytes stop for MS ms (default 500;
                         0: never)

Faults (LIST is a comma list of handshake, prompt, status, or all):
  --silent[=LIST]        never answer (default: all replies)
  --handshake-reply HEX  answer 02 with these bytes instead of 06, e.g. "06 06"
                         or 15; an empty text gives no answer
  --reply-delay MS       wait MS ms before answering
  --delay-on LIST        the replies that wait (default: all)
  --chunk-delay MS       send each reply in pieces, MS ms apart; one byte a
                         piece unless --chunks says otherwise
  --chunks SIZES         piece sizes in bytes, e.g. 3,2; the last one repeats
  --prompt-extra HEX     bytes sent in the same write after the 02 prompt
  --status-length N      length of the status reply, 0 to 64 (default 5):
                         shorter cuts it, longer pads it with 00
  --status HEX           the status byte to report whatever the frame was

  -h, --help             show this text
Stops cleanly, removing its link, on SIGINT or SIGTERM.
)";
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine cl;
    mastercard::WriterFaults& faults = cl.options.faults;
    bool portDirGiven = false;

    for (std::size_t i = 0; i < args.size() && cl.error.empty(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            hasValue = true;
        }
        // Takes the option's value from "=value" or the next argument.
        auto next = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= args.size()) {
                cl.error = name + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        auto bad = [&](const std::string& what) { cl.error = name + ": " + what + ", not \"" + value + "\""; };

        if (name == "-h" || name == "--help") {
            cl.help = true;
        } else if (name == "--exit-on-stdin-eof") {
            cl.exit_on_stdin_eof = true;
        } else if (name == "--silent") {
            faults.silent = mastercard::ExchangeSet::All();
            if (hasValue && !ParseExchanges(value, faults.silent)) bad("expected a list of replies");
        } else if (name == "--port-dir") {
            if (next()) cl.options.port_dir = value, portDirGiven = true;
        } else if (name == "--com") {
            if (next() && !ParseInt(value, 1, 255, cl.options.com)) bad("expected a number from 1 to 255");
        } else if (name == "--frame-gap") {
            if (next() && !ParseInt(value, 0, kMaxDelayMs, cl.options.frame_gap_ms)) bad("expected milliseconds");
        } else if (name == "--handshake-reply") {
            if (next() && !ParseHex(value, faults.handshake_reply)) bad("expected hexadecimal bytes");
        } else if (name == "--reply-delay") {
            if (next() && !ParseInt(value, 0, kMaxDelayMs, faults.reply_delay_ms)) bad("expected milliseconds");
        } else if (name == "--delay-on") {
            if (next() && !ParseExchanges(value, faults.delayed)) bad("expected a list of replies");
        } else if (name == "--chunk-delay") {
            if (next() && !ParseInt(value, 0, kMaxDelayMs, faults.chunk_delay_ms)) bad("expected milliseconds");
        } else if (name == "--chunks") {
            if (next() && !ParseSizes(value, faults.chunk_sizes)) bad("expected sizes from 1 to 64, e.g. 3,2");
        } else if (name == "--prompt-extra") {
            if (next() && !ParseHex(value, faults.prompt_extra)) bad("expected hexadecimal bytes");
        } else if (name == "--status-length") {
            int length = 0;
            if (next()) {
                if (!ParseInt(value, 0, static_cast<int>(kMaxStatusLength), length)) bad("expected a length from 0 to 64");
                else faults.status_length = static_cast<std::size_t>(length);
            }
        } else if (name == "--status") {
            std::string status;
            if (next()) {
                if (!ParseHex(value, status) || status.size() != 1) bad("expected one hexadecimal byte");
                else faults.status = static_cast<std::uint8_t>(status[0]);
            }
        } else {
            cl.error = "unknown option " + args[i];
        }
    }

    if (cl.error.empty() && !cl.help && portDirGiven != (cl.options.com > 0)) {
        cl.error = "--port-dir and --com go together";
    }
    if (cl.error.empty() && portDirGiven && cl.options.port_dir.empty()) cl.error = "--port-dir is empty";
    return cl;
}

}  // namespace writersim
