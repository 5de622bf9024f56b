// tarnwick-cli ports: the machine's serial ports, as the window's port box offers them.
#include <cstdlib>

#include "command.h"
#include "comport/port_list.h"

namespace tarnwick::cli {

namespace {

#ifndef _WIN32
// TARNWICK_SYSFS_ROOT and TARNWICK_DEV_ROOT put the walk on another tree (a test's
// copy, a container's); unset they are /sys and /dev.
std::filesystem::path RootFromEnvironment(const char* Variable, const char* Default) {
    const char* value = std::getenv(Variable);
    return value != nullptr && *value != '\0' ? value : Default;
}
#endif

int RunPorts(const TArguments& Arguments, TCommandContext& Context) {
    if (!Arguments.Operands.empty()) {
        throw EUsage("keine Argumente erwartet");
    }
#ifdef _WIN32
    const auto entries = ListSerialPorts();
#else
    const auto entries = ListSerialPorts(RootFromEnvironment("TARNWICK_SYSFS_ROOT", "/sys"),
                                         RootFromEnvironment("TARNWICK_DEV_ROOT", "/dev"));
#endif
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
