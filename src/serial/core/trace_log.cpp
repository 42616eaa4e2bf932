#include "serial/core/trace_log.h"

#include "serial/core/comm_types.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace sio {

namespace {

std::string FormatByte(std::uint8_t b, const DumpOptions& options) {
    const bool printable = b >= 0x20 && b < 0x7F;
    if (options.AllHex || (options.Hex && !printable)) {
        char text[4];
        std::snprintf(text, sizeof text, "%02X", b);
        return text;
    }
    return std::string(1, static_cast<char>(b));
}

int WriteText(const DumpOptions& options, const std::string& text) {
    std::ofstream file(options.FileName, options.Append ? std::ios::app : std::ios::trunc);
    if (!file) return -ERROR_ACCESS_DENIED;
    file << text;
    file.flush();
    return file ? 0 : -ERROR_GEN_FAILURE;
}

}  // namespace

void TraceRing::Start(std::uint32_t entries) {
    entries = std::clamp<std::uint32_t>(entries, 1, kMaxTraceEntries);
    if (entries_.size() != 2u * entries) {
        entries_.assign(2u * entries, 0);
        Clear();
    }
    paused_ = false;
}

void TraceRing::Stop() {
    std::vector<std::uint8_t>().swap(entries_);
    Clear();
    paused_ = false;
}

void TraceRing::Add(char kind, std::uint8_t byte) {
    if (!Active()) return;
    const std::size_t capacity = entries_.size() / 2;
    std::size_t slot;
    if (count_ < capacity) {
        slot = (first_ + count_++) % capacity;
    } else {  // full: the oldest entry gives way
        slot = first_;
        first_ = (first_ + 1) % capacity;
    }
    entries_[2 * slot] = static_cast<std::uint8_t>(kind);
    entries_[2 * slot + 1] = byte;
}

std::string TraceRing::Entry(std::size_t i) const {
    const std::size_t slot = (first_ + i) % (entries_.size() / 2);
    return {static_cast<char>(entries_[2 * slot]), static_cast<char>(entries_[2 * slot + 1])};
}

int TraceRing::Dump(const DumpOptions& options) const {
    std::string text = "Trace, " + std::to_string(count_) + " entries\n";
    for (std::size_t i = 0; i < count_; ++i) {
        const std::string e = Entry(i);
        text += e[0];
        text += ':';
        text += FormatByte(static_cast<std::uint8_t>(e[1]), options);
        text += (i % 16 == 15 || i + 1 == count_) ? '\n' : ' ';
    }
    return WriteText(options, text);
}

void DispatchLog::Start(std::uint32_t bytes) {
    bytes = std::clamp<std::uint32_t>(bytes, kHeaderSize + 1, kMaxLogBytes);
    if (ring_.size() != bytes) {
        ring_.assign(bytes, 0);
        Clear();
    }
    paused_ = false;
}

void DispatchLog::Stop() {
    std::vector<char>().swap(ring_);
    Clear();
    paused_ = false;
}

void DispatchLog::Put(const char* data, std::size_t n) {
    std::size_t at = (first_ + used_) % ring_.size();
    for (std::size_t i = 0; i < n; ++i) {
        ring_[at] = data[i];
        at = (at + 1) % ring_.size();
    }
    used_ += n;
}

void DispatchLog::Get(std::size_t offset, char* out, std::size_t n) const {
    for (std::size_t i = 0; i < n; ++i) out[i] = ring_[(first_ + offset + i) % ring_.size()];
}

void DispatchLog::DropOldest() {
    char header[kHeaderSize];
    Get(0, header, kHeaderSize);
    std::uint32_t length;
    std::memcpy(&length, header + 8, sizeof length);
    const std::size_t size = kHeaderSize + length;
    first_ = (first_ + size) % ring_.size();
    used_ -= size;
}

void DispatchLog::Add(char kind, std::uint32_t timeMs, const char* data, std::size_t n) {
    if (!Active()) return;
    const std::size_t room = ring_.size() - kHeaderSize;
    if (n > room) {
        data += n - room;
        n = room;
    }
    while (ring_.size() - used_ < kHeaderSize + n) DropOldest();
    char header[kHeaderSize] = {};
    header[0] = kind;
    const auto length = static_cast<std::uint32_t>(n);
    std::memcpy(header + 4, &timeMs, sizeof timeMs);
    std::memcpy(header + 8, &length, sizeof length);
    Put(header, kHeaderSize);
    Put(data, n);
}

std::vector<DispatchLog::Block> DispatchLog::Blocks() const {
    std::vector<Block> blocks;
    std::size_t offset = 0;
    while (offset < used_) {
        char header[kHeaderSize];
        Get(offset, header, kHeaderSize);
        Block block{header[0], 0, {}};
        std::uint32_t length;
        std::memcpy(&block.TimeMs, header + 4, sizeof block.TimeMs);
        std::memcpy(&length, header + 8, sizeof length);
        block.Data.resize(length);
        Get(offset + kHeaderSize, block.Data.data(), length);
        blocks.push_back(std::move(block));
        offset += kHeaderSize + length;
    }
    return blocks;
}

int DispatchLog::Dump(const DumpOptions& options) const {
    std::string text = "Dispatch log\n";
    for (const Block& block : Blocks()) {
        text += block.Kind;
        text += " +";
        text += std::to_string(block.TimeMs);
        text += "ms ";
        text += std::to_string(block.Data.size());
        text += ':';
        for (char c : block.Data) {
            text += ' ';
            text += FormatByte(static_cast<std::uint8_t>(c), options);
        }
        text += '\n';
    }
    return WriteText(options, text);
}

}  // namespace sio
