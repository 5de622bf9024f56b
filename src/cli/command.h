// The subcommands of tarnwick-cli and what they share: option parsing, usage
// texts and exit codes. Each subcommand lives in its own <name>_command.cpp and
// describes itself with a TCommand; main.cpp lists them.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "image/firmware_image.h"

namespace tarnwick::cli {

inline constexpr std::string_view ProgramName = "tarnwick-cli";

enum : int {
    ExitSuccess = 0,
    ExitFailure = 1,  // the command ran and failed
    ExitUsage = 2,    // the command line was wrong
};

// A wrong command line. The message is shown with the usage text; exit code 2.
class EUsage : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct TOption {
    std::string_view Name;       // without the leading "--"
    std::string_view ValueName;  // empty for a flag; else the option takes a value
    std::string_view Help;
};

// The parsed command line of one subcommand.
class TArguments {
  public:
    bool Has(std::string_view Name) const { return Options.count(std::string(Name)) != 0; }
    // The value of an option that takes one; Default when it was not given. Given more
    // than once, the last one counts.
    std::string Value(std::string_view Name, const std::string& Default = {}) const;
    // Every value given for an option that takes one, in order.
    std::vector<std::string> Values(std::string_view Name) const;

    // The value of an option that takes a whole number from Min to Max; Default when it was
    // not given. Throws EUsage for any other value.
    int NumberOption(std::string_view Name, int Default, int Min, int Max) const;

    std::map<std::string, std::string> Options;
    std::vector<std::pair<std::string, std::string>> Given;  // option values, in order
    std::vector<std::string> Operands;
};

struct TCommandContext {
    std::ostream& Out;
    std::ostream& Err;
    // A command that has already said on Err that Out lost its reader, and chose its exit
    // status knowing it.
    bool OutputLossSaid = false;
};

struct TCommand {
    std::string_view Name;
    std::string_view Operands;  // as shown in the usage text, e.g. "DATEI"
    std::string_view Summary;   // one line for the command list
    std::vector<TOption> Options;
    // Runs with the parsed arguments; throws EUsage for a wrong command line
    // (e.g. a missing operand) and returns the exit code otherwise.
    int (*Run)(const TArguments& Arguments, TCommandContext& Context);
};

// Parses the arguments after the command name: "--name", "--name value",
// "--name=value", "--" ends the options. "--help"/"-h" is handled by the caller.
// Throws EUsage for an unknown option or a missing value.
TArguments ParseArguments(const TCommand& Command, std::span<const std::string> Args);

// True when FileName names a regular file or a link to one, as the window checks
// before it loads. A directory, a pipe or a device counts as not found: reading a
// pipe or /dev/zero would never end.
bool FileExists(const std::string& FileName);

// Loads FileName into Image as the window does, for the commands that take a HEX file.
// The messages go to standard error: "not found", the loader's message, or the loaded
// line. Unlike the window it also speaks up for a file without an end-of-file record,
// where a command that failed without a word would leave the user guessing.
bool LoadFirmwareFile(const std::string& FileName, TBuffer& Image, std::int32_t& HighestAddress,
                      TCommandContext& Context);

// Said by LoadFirmwareFile when the loader returned HexIncomplete.
std::string NoEndRecordMessage(const std::string& FileName);

// Usage texts, all built here so that every command shows them alike.
std::string ProgramUsage(std::span<const TCommand* const> Commands);
std::string CommandUsage(const TCommand& Command);

// Runs the program: Args are the arguments after the program name.
int RunCli(std::span<const TCommand* const> Commands, std::span<const std::string> Args,
           TCommandContext& Context);

// The subcommands, one file each. A new one: define its TCommand in
// <name>_command.cpp, declare it here, list it in main.cpp's Commands and add
// the file to CMakeLists.txt.
extern const TCommand HexdumpCommand;
extern const TCommand PortsCommand;
extern const TCommand ScreenCommand;
extern const TCommand StationCommand;
extern const TCommand UpdateCommand;

}  // namespace tarnwick::cli
