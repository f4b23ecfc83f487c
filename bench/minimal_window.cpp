// The yardstick for the program's start-up: the least a Qt Widgets program
// does to show a window, one empty QWidget and the event loop.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.resize(257, 250);
    window.show();
    return application.exec();
}
