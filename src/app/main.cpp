// Starts the program: the application object, its icon and the one window.
// The program reads no command-line argument of its own.
#include "app/application.h"
#include "app/form_com.h"

#include <QIcon>

int main(int argc, char* argv[]) {
    TApplication app(argc, argv);
    app.setWindowIcon(QIcon(":/app/mastercard-writer.png"));
    TForm_Com Form_Com;
    Form_Com.show();
    return app.exec();
}
