#include "window_command_line.h"

#include <filesystem>
#include <system_error>

#include "system_text.h"

namespace tarnwick {

namespace {

const char* const Usage =
    "Aufruf: tarnwick [DATEI]\n"
    "\n"
    "Firmware-Update über den seriellen Bootloader von AVR-Geräten, mit Fenster.\n"
    "DATEI (Intel-HEX) wird statt der zuletzt benutzten Firmware-Datei geladen.\n"
    "\n"
    "Optionen:\n"
    "  --help, -h   diese Hilfe anzeigen\n"
    "  --version    Version anzeigen\n";

}  // namespace

TWindowCommand ParseWindowArguments(const std::vector<std::string>& Arguments) {
    TWindowCommand command;
    for (const std::string& argument : Arguments) {
        if (argument == "--help" || argument == "-h") {
            command.Action = TWindowCommand::Help;
            command.Output = Usage;
            return command;
        }
        if (argument == "--version") {
            command.Action = TWindowCommand::Version;
            command.Output = "tarnwick " TARNWICK_VERSION "\n";
            return command;
        }
    }
    if (!Arguments.empty() && !Arguments.front().empty()) {
        std::error_code error;
        const std::filesystem::path absolute =
            std::filesystem::absolute(Utf8ToPath(Arguments.front()), error);
        command.FileName = error ? Arguments.front() : PathToUtf8(absolute);
    }
    return command;
}

}  // namespace tarnwick
