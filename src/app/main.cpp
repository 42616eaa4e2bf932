// Until the main window exists the program opens an empty window, so that
// `make run` already shows the toolkit works on this machine.
#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QString::fromUtf8("RS232接口母卡生成程序V1.0"));
    window.resize(771, 562);
    window.show();
    return app.exec();
}
