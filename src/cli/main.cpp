// tarnwick-cli: the command-line front end of Tarnwick.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli_platform.h"
#include "command.h"

namespace {

// Every subcommand, in the order of the usage text.
const tarnwick::cli::TCommand* const Commands[] = {
    &tarnwick::cli::HexdumpCommand, &tarnwick::cli::PortsCommand,  &tarnwick::cli::ScreenCommand,
    &tarnwick::cli::StationCommand, &tarnwick::cli::UpdateCommand,
};

}  // namespace

int main(int argc, char* argv[]) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const tarnwick::cli::TConsoleSetup console;
    // Here, not with the commands: the version belongs to the program.
    if (!args.empty() && args.front() == "--version") {
        std::cout << tarnwick::cli::ProgramName << " " TARNWICK_VERSION "\n";
        return tarnwick::cli::ExitSuccess;
    }
    tarnwick::cli::TCommandContext context{std::cout, std::cerr};
    try {
        const int code = tarnwick::cli::RunCli(Commands, args, context);
        std::cout.flush();
        if (!std::cout && !context.OutputLossSaid) {
            std::cerr << tarnwick::cli::ProgramName
                      << ": Fehler beim Schreiben der Standardausgabe\n";
            return tarnwick::cli::ExitFailure;
        }
        return code;
    } catch (const std::exception& error) {
        std::cerr << tarnwick::cli::ProgramName << ": " << error.what() << "\n";
        return tarnwick::cli::ExitFailure;
    }
}
