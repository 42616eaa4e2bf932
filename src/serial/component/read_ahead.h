// The bytes a component has taken from its dispatcher but not yet handed to
// the program. A data-available handler reads the announced bytes one
// ReadChar at a time; taking them under one lock and serving them from here
// makes each ReadChar a few instructions instead of a lock round trip.
//
// Only the owner thread uses it. What the handler leaves unread goes back to
// the delivery it came from when the handler returns, so the dispatcher's
// accounting is the same as if every byte had been taken singly. If that
// delivery has already ended (its handler outlived the delivery time-out),
// the dispatcher counted those bytes as taken: they stay here and are the
// next ones ReadChar returns, so nothing is lost or read twice.
#pragma once

#include "serial/core/dispatcher.h"

#include <cstdint>
#include <memory>

namespace sio {

class ReadAhead {
public:
    // The next byte taken ahead from `dispatcher`, if there is one that an
    // input purge has not made void.
    bool Next(TSioBaseDispatcher& dispatcher, char& byte) {
        if (pos_ == len_ || source_ != &dispatcher || generation_ != dispatcher.InputGeneration()) return false;
        byte = buffer_[pos_++];
        if (delivery_ != 0) dispatcher.NoteHeldAhead(len_ - pos_);
        dispatcher.NoteTaken(byte);
        return true;
    }

    // How many bytes of `dispatcher` are held. At the start of a notice
    // these come from a delivery that has ended: the dispatcher counts them
    // as taken, so the notice's count leaves them out.
    int Held(const TSioBaseDispatcher& dispatcher) const {
        return source_ == &dispatcher && generation_ == dispatcher.InputGeneration() ? len_ - pos_ : 0;
    }

    // Drops what is held and takes what the dispatcher hands out now.
    // Returns 0, or the dispatcher's result code when there is nothing.
    int Fill(TSioBaseDispatcher& dispatcher);

    // Hands back what the handler of `dispatcher`'s delivery left unread.
    void GiveBack(TSioBaseDispatcher& dispatcher);

    // Forgets everything; called when the dispatcher goes away.
    void Drop();

private:
    std::unique_ptr<char[]> buffer_;
    int pos_ = 0;
    int len_ = 0;
    TSioBaseDispatcher* source_ = nullptr;
    std::uint64_t delivery_ = 0;
    std::uint64_t generation_ = 0;
};

}  // namespace sio
