// tarnwick-cli ports: the machine's serial ports, as the window's port box offers them.
#include "cli_platform.h"
#include "command.h"

namespace tarnwick::cli {

namespace {

int RunPorts(const TArguments& Arguments, TCommandContext& Context) {
    if (!Arguments.Operands.empty()) {
        throw EUsage("keine Argumente erwartet");
    }
    const auto entries = ListPorts();
    if (entries.empty()) {
        Context.Err << "Keine seriellen Ports gefunden\n";
    }
    for (const std::string& entry : entries) {
        Context.Out << entry << '\n';
    }
    return ExitSuccess;
}

}  // namespace

const TCommand PortsCommand{
    "ports", "", "serielle Schnittstellen auflisten, wie das Fenster sie anbietet", {}, RunPorts,
};

}  // namespace tarnwick::cli
