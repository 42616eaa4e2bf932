// What the serial port component asks of the application it lives in, as
// hooks the application installs: its exception report (an exception thrown
// by a trigger handler ends there) and the port selection dialog (for an open
// without a port number). The component itself needs no window toolkit.
#pragma once

#include "serial/component/com_port_types.h"

#include <exception>
#include <functional>

namespace sio {

using TExceptionReporter = std::function<void(const std::exception&)>;
// Shows the dialog; true and the chosen number on OK, false otherwise.
using TPortPrompt = std::function<bool(Word& comNumber)>;

// Installs the application's exception report; an empty reporter restores
// the default, which prints the message to standard error.
void SetExceptionReporter(TExceptionReporter reporter);
void ReportException(const std::exception& e);

// Installs the port selection dialog; without one a prompt is a cancel.
void SetPortPrompt(TPortPrompt prompt);
bool PromptForComPort(Word& comNumber);

}  // namespace sio
