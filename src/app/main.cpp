// tarnwick: the firmware-update program with its single window. "tarnwick FILE" opens
// FILE instead of the firmware file used last, as a file manager's "Open with" does.
#include <QApplication>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "comport/main_thread_dispatcher.h"
#include "main_window.h"
#include "message_boxes.h"
#include "window_command_line.h"

namespace {

const char* const QtOptions =
    "\nDazu nimmt das Programm die Optionen von Qt, etwa -platform NAME.\n";

std::vector<std::string> Utf8Arguments(const QStringList& Arguments) {
    std::vector<std::string> arguments;
    for (const QString& argument : Arguments) {
        arguments.push_back(argument.toStdString());
    }
    return arguments;
}

}  // namespace

int main(int argc, char* argv[]) {
    // Before QApplication, so that both work without a display.
    const tarnwick::TWindowCommand early = tarnwick::ParseWindowArguments(
        std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
    if (early.Action != tarnwick::TWindowCommand::Open) {
        std::fputs(early.Output.c_str(), stdout);
        if (early.Action == tarnwick::TWindowCommand::Help) {
            std::fputs(QtOptions, stdout);
        }
        return 0;
    }
    QApplication application(argc, argv);
    tarnwick::InstallGermanTranslations();
    tarnwick::TMainWindow mainWindow;
    // QApplication has taken its own options (-platform ...) out of the list.
    mainWindow.StartupFileName =
        tarnwick::ParseWindowArguments(Utf8Arguments(QApplication::arguments().mid(1))).FileName;
    mainWindow.show();
    const int result = QApplication::exec();
    // A port's event thread still waiting for a hand-over gets a failure, not silence.
    tarnwick::TMainThreadDispatcher::Instance().Shutdown();
    return result;
}
