// tarnwick: the firmware-update program with its single window.
#include <QApplication>

#include "main_window.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    tarnwick::TMainWindow mainWindow;
    mainWindow.show();
    return application.exec();
}
