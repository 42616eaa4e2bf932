// The local wall clock, read through the system's.
#include "app/toolkit/date_time.h"

#include "app/toolkit/win32/text.h"

TDateTime CurrentDateTime() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
            now.wMilliseconds};
}
