// The standard exception report. An exception that escapes an event handler
// is shown to the operator in a message box and the program goes on,
// instead of tearing the process down.
#pragma once

#include <exception>
#include <string_view>

// Hands an exception to the report. Safe to call from any thread: off the
// main thread the report is queued to the main thread, so a worker never
// waits for the operator. Without a running application the message goes
// to the warning log.
void ReportException(const std::exception& error);
void ReportExceptionMessage(std::string_view message);

// Wraps an event handler so that an exception from it is reported where the
// toolkit calls it, before it could unwind through the toolkit's frames.
template <class Handler>
auto Guarded(Handler handler) {
    return [handler]() {
        try {
            handler();
        } catch (const std::exception& error) {
            ReportException(error);
        } catch (...) {
            ReportExceptionMessage("Unknown exception");
        }
    };
}
