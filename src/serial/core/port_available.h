// The port probe of the port selection dialog. Each platform's device layer
// (posix/, win32/) defines it, as it does the native dispatcher.
#pragma once

namespace sio {

// True when COMn exists: it opens, or another program holds it (a port in
// use is still a port). 0 and negative numbers are never available.
bool IsPortAvailable(int number);

}  // namespace sio
