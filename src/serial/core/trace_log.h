// The dispatcher's two diagnostics, both off unless switched on: the trace (a
// ring of two-byte entries, "R" or "T" and the byte) and the dispatch log (a
// ring of bytes holding a 16-byte header per block followed by the block).
// Both can be written to a text file; the format is ours (see Dump).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sio {

enum TTraceLogState { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };

inline constexpr std::uint32_t kMaxTraceEntries = 4000000;
inline constexpr std::uint32_t kMaxLogBytes = 16000000;

struct DumpOptions {
    std::string FileName;
    bool Append = false;
    bool Hex = true;      // bytes outside printable ASCII in hex
    bool AllHex = false;  // every byte in hex
};

class TraceRing {
public:
    void Start(std::uint32_t entries);  // starts, or resumes with the same size
    void Pause() { paused_ = true; }
    void Clear() { count_ = 0; first_ = 0; }
    void Stop();  // discards everything
    bool Active() const { return !entries_.empty() && !paused_; }
    bool On() const { return !entries_.empty(); }
    void Add(char kind, std::uint8_t byte);
    std::size_t Count() const { return count_; }
    std::string Entry(std::size_t i) const;  // kind and byte of the i-th oldest
    // Writes the entries to the file; 0, or minus a Windows error number.
    int Dump(const DumpOptions& options) const;

private:
    std::vector<std::uint8_t> entries_;  // two bytes per entry
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    bool paused_ = false;
};

class DispatchLog {
public:
    static constexpr std::size_t kHeaderSize = 16;

    void Start(std::uint32_t bytes);
    void Pause() { paused_ = true; }
    void Clear() { used_ = 0; first_ = 0; }
    void Stop();
    bool Active() const { return !ring_.empty() && !paused_; }
    bool On() const { return !ring_.empty(); }
    // One block: kind 'R' (received) or 'T' (queued for sending), the time in
    // ms since open, the bytes. Oldest blocks make room; a block longer than
    // the whole ring keeps its last bytes.
    void Add(char kind, std::uint32_t timeMs, const char* data, std::size_t n);
    struct Block {
        char Kind;
        std::uint32_t TimeMs;
        std::string Data;
    };
    std::vector<Block> Blocks() const;
    int Dump(const DumpOptions& options) const;

private:
    void Put(const char* data, std::size_t n);
    void Get(std::size_t offset, char* out, std::size_t n) const;
    void DropOldest();

    std::vector<char> ring_;
    std::size_t first_ = 0;
    std::size_t used_ = 0;
    bool paused_ = false;
};

}  // namespace sio
