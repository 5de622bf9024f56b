// The window program's command line, alike for the Qt and the Windows program:
// "tarnwick [DATEI]", --help and --version.
#pragma once

#include <string>
#include <vector>

namespace tarnwick {

struct TWindowCommand {
    enum TAction { Open, Help, Version };
    TAction Action = Open;
    // What --help or --version prints.
    std::string Output;
    // The firmware file to open instead of the one used last (UTF-8, made absolute, so
    // that Settings.ini keeps a name that works from any folder); empty when none.
    std::string FileName;
};

// Arguments without the program's name, UTF-8. The first argument that is not an
// option names the file; --help (or -h) and --version win over everything else.
TWindowCommand ParseWindowArguments(const std::vector<std::string>& Arguments);

}  // namespace tarnwick
