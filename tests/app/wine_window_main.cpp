// The program's window for the end-to-end run under Wine: the installed
// program's window and handlers, with two differences confined to this test
// program. Its port leaves RS-485 mode off, since Wine refuses the
// transmitter-driven RTS on a pseudo-terminal (the installed program shows
// that refusal as a failed open); and every message box's caption and text
// are also written, one line each, to the file named by the first argument,
// so the test reads what the operator saw. The line "shown|" comes first, at
// the window's first idle moment, once it takes the operator's input.
#include "app/form_com.h"
#include "app/toolkit/exception_report.h"
#include "app/toolkit/win32/application.h"
#include "serial/component/com_port_hooks.h"

#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

class RecordedForm : public TForm_Com {
public:
    explicit RecordedForm(std::wstring logName) : logName_(std::move(logName)) {}

    int MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) override {
        Record(Caption + "|" + Text);
        return TForm_Com::MessageBox(Text, Caption, Flags);
    }

    void Record(const std::string& line) const {
        if (FILE* log = _wfopen(logName_.c_str(), L"ab")) {
            std::fprintf(log, "%s\n", line.c_str());
            std::fclose(log);
        }
    }

private:
    std::wstring logName_;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count < 2) return 2;
    w32tk::InitApplication();
    sio::SetExceptionReporter([](const std::exception& error) { ReportException(error); });
    int result = 0;
    {
        RecordedForm Form_Com(arguments[1]);
        Form_Com.SioComPort1->SetRS485Mode(false);
        Form_Com.Show();
        int shown = 0;
        shown = Form_Com.Window().AddIdleHandler([&Form_Com, &shown] {
            Form_Com.Record("shown|");
            Form_Com.Window().RemoveIdleHandler(shown);
        });
        result = w32tk::RunMessageLoop();
    }
    sio::SetExceptionReporter({});
    LocalFree(arguments);
    return result;
}
