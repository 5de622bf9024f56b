// tarnwick: the firmware-update program with its single window. "tarnwick FILE" opens
// FILE instead of the firmware file used last, as a file manager's "Open with" does.
#include <QApplication>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>
#include <string_view>

#include "comport/main_thread_dispatcher.h"
#include "main_window.h"
#include "message_boxes.h"

namespace {

const char* const Usage =
    "Aufruf: tarnwick [DATEI]\n"
    "\n"
    "Firmware-Update über den seriellen Bootloader von AVR-Geräten, mit Fenster.\n"
    "DATEI (Intel-HEX) wird statt der zuletzt benutzten Firmware-Datei geladen.\n"
    "\n"
    "Optionen:\n"
    "  --help, -h   diese Hilfe anzeigen\n"
    "  --version    Version anzeigen\n"
    "\n"
    "Dazu nimmt das Programm die Optionen von Qt, etwa -platform NAME.\n";

}  // namespace

int main(int argc, char* argv[]) {
    // Before QApplication, so that both work without a display.
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::fputs("tarnwick " TARNWICK_VERSION "\n", stdout);
            return 0;
        }
    }
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
