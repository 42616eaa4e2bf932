// <windows.h> as the Windows layers include it: after the component's own
// Windows-named constants and records (comm_types.h, which the system's
// macros would otherwise rewrite), and without the two macros that would
// rename MessageLink's operations.
#pragma once

#include "serial/core/comm_types.h"
#include "serial/core/message_link.h"

#include <windows.h>

#undef PostMessage
#undef SendMessageTimeout
