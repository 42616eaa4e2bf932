// The local wall clock at millisecond grain, for time stamps and file names.
#pragma once

struct TDateTime {
    int Year = 0;
    int Month = 0;  // 1-12
    int Day = 0;    // 1-31
    int Hour = 0;   // 0-23
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
    friend bool operator==(const TDateTime&, const TDateTime&) = default;
};

// The local date and time now.
TDateTime CurrentDateTime();
