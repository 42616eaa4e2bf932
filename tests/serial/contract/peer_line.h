// A line whose far end is the line peer (a pseudo-terminal in the peer's
// process): the backend row of a pseudo-terminal on Linux and of a COM port
// under Wine alike.
#pragma once

#include <memory>
#include <string>

#include "line_backend.h"

namespace sio::contract {

// Links a new line as COM`com` in `portDir`; throws when there is no peer.
std::unique_ptr<Line> MakePeerLine(int com, const std::string& portDir);

}  // namespace sio::contract
