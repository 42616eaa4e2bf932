// The port probe of the port selection dialog.
#pragma once

namespace sio {

// True when COMn exists: it opens, or another program holds it (a port in
// use is still a port). 0 and negative numbers are never available.
bool IsPortAvailable(int number);

}  // namespace sio
