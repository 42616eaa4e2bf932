// Starts the Linux edition: the Qt application object, its icon and the one
// window. The program reads no command-line argument of its own.
#include "app/form_com.h"
#include "app/toolkit/exception_report.h"
#include "app/toolkit/qt/application.h"
#include "serial/component/com_port_hooks.h"

#include <QIcon>

int main(int argc, char* argv[]) {
    TApplication app(argc, argv);
    // What the serial port cannot hand back to a caller (a trigger handler's
    // exception, a worker's failure) is shown like any other exception.
    sio::SetExceptionReporter([](const std::exception& error) { ReportException(error); });
    app.setWindowIcon(QIcon(":/app/mastercard-writer.png"));
    // Ties the window to its menu entry, so a desktop shows the entry's icon.
    app.setDesktopFileName("example.c_seed_da200391.MastercardWriter");
    TForm_Com Form_Com;
    Form_Com.Show();
    const int result = app.exec();
    sio::SetExceptionReporter({});
    return result;
}
