// Starts the Windows edition: the application, the one window and the
// message loop. The program reads no command-line argument of its own.
#include "app/form_com.h"
#include "app/toolkit/exception_report.h"
#include "app/toolkit/win32/application.h"
#include "serial/component/com_port_hooks.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    w32tk::InitApplication();
    // What the serial port cannot hand back to a caller (a trigger handler's
    // exception, a worker's failure) is shown like any other exception.
    sio::SetExceptionReporter([](const std::exception& error) { ReportException(error); });
    int result = 0;
    {
        TForm_Com Form_Com;
        Form_Com.Show();
        result = w32tk::RunMessageLoop();
    }
    sio::SetExceptionReporter({});
    return result;
}
