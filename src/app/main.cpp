// tarnwick: the firmware-update program with its single window. "tarnwick FILE" opens
// FILE instead of the firmware file used last, as a file manager's "Open with" does.
#include <QApplication>
#include <QFileInfo>
#include <QStringList>

#include "comport/main_thread_dispatcher.h"
#include "main_window.h"
#include "message_boxes.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    tarnwick::InstallGermanTranslations();
    tarnwick::TMainWindow mainWindow;
    // QApplication has taken its own options (-platform ...) out of the list.
    const QStringList arguments = QApplication::arguments().mid(1);
    if (!arguments.isEmpty()) {
        mainWindow.StartupFileName = QFileInfo(arguments.first()).absoluteFilePath();
    }
    mainWindow.show();
    const int result = QApplication::exec();
    // A port's event thread still waiting for a hand-over gets a failure, not silence.
    tarnwick::TMainThreadDispatcher::Instance().Shutdown();
    return result;
}
