#include "serial/component/read_ahead.h"

namespace sio {

int ReadAhead::Fill(TSioBaseDispatcher& dispatcher) {
    Drop();
    if (!buffer_) buffer_ = std::make_unique<char[]>(kDispRingSize);
    // The generation is read first: a purge racing the take then voids what
    // was taken rather than letting stale bytes through.
    const std::uint64_t generation = dispatcher.InputGeneration();
    const int n = dispatcher.TakeBytes(buffer_.get(), kDispRingSize, delivery_);
    if (n < 0) return n;
    len_ = n;
    source_ = &dispatcher;
    generation_ = generation;
    return 0;
}

void ReadAhead::GiveBack(TSioBaseDispatcher& dispatcher) {
    if (source_ != &dispatcher || pos_ == len_ || delivery_ == 0) return;
    if (generation_ != dispatcher.InputGeneration()) {
        Drop();  // purged: the delivery counts them as taken anyway
        return;
    }
    if (dispatcher.ReturnBytes(len_ - pos_, delivery_)) Drop();
}

void ReadAhead::Drop() {
    pos_ = len_ = 0;
    source_ = nullptr;
    delivery_ = 0;
}

}  // namespace sio
