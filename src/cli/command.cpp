#include "command.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "image/firmware_file.h"
#include "text/number_text.h"

namespace tarnwick::cli {

namespace {

bool IsHelp(std::string_view Arg) {
    return Arg == "--help" || Arg == "-h";
}

std::string OptionLabel(const TOption& Option) {
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "..." + string.
    std::string label = "--";
    label += Option.Name;
    if (!Option.ValueName.empty()) {
        label += ' ';
        label += Option.ValueName;
    }
    return label;
}

std::string Synopsis(const TCommand& Command) {
    std::string text(ProgramName);
    text += ' ';
    text += Command.Name;
    for (const auto& option : Command.Options) {
        text += " [";
        text += OptionLabel(option);
        text += ']';
    }
    if (!Command.Operands.empty()) {
        text += ' ';
        text += Command.Operands;
    }
    return text;
}

// Lines of "  label  text" with the texts in one column.
std::string Table(const std::vector<std::pair<std::string, std::string>>& Rows) {
    std::size_t width = 0;
    for (const auto& row : Rows) {
        width = std::max(width, row.first.size());
    }
    std::string text;
    for (const auto& [label, help] : Rows) {
        text += "  " + label + std::string(width - label.size() + 3, ' ') + help + "\n";
    }
    return text;
}

}  // namespace

std::string TArguments::Value(std::string_view Name, const std::string& Default) const {
    const auto found = Options.find(std::string(Name));
    return found == Options.end() ? Default : found->second;
}

std::vector<std::string> TArguments::Values(std::string_view Name) const {
    std::vector<std::string> values;
    for (const auto& [name, value] : Given) {
        if (name == Name)
            values.push_back(value);
    }
    return values;
}

int TArguments::NumberOption(std::string_view Name, int Default, int Min, int Max) const {
    if (!Has(Name))
        return Default;
    const std::string text = Value(Name);
    int value = 0;
    if (!ParseNumber(text, Min, Max, value))
        throw EUsage(NumberOptionMessage("--" + std::string(Name), text, Min, Max));
    return value;
}

bool FileExists(const std::string& FileName) {
    std::error_code error;
    const auto status = std::filesystem::status(FileName, error);
    return !error && std::filesystem::is_regular_file(status);
}

bool LoadFirmwareFile(const std::string& FileName, TBuffer& Image, std::int32_t& HighestAddress,
                      TCommandContext& Context) {
    if (!FileExists(FileName)) {
        Context.Err << FileNotFoundMessage(FileName) << "\n";
        return false;
    }
    const int result = LoadFirmwareImage(FileName, Image, HighestAddress, MaxFlashSize);
    if (result == HexLoaded) {
        Context.Err << FileLoadedMessage(FileName) << "\n";
        return true;
    }
    const std::string message =
        result == HexIncomplete ? NoEndRecordMessage(FileName) : FirmwareLoadMessage(result);
    Context.Err << message << "\n";
    return false;
}

std::string NoEndRecordMessage(const std::string& FileName) {
    return "Programmdatei \"" + FileName + "\": kein End-of-File-Record gelesen, nichts geladen";
}

TArguments ParseArguments(const TCommand& Command, std::span<const std::string> Args) {
    TArguments parsed;
    for (std::size_t i = 0; i < Args.size(); ++i) {
        const std::string& arg = Args[i];
        if (arg == "--") {
            parsed.Operands.insert(parsed.Operands.end(), Args.begin() + static_cast<long>(i) + 1,
                                   Args.end());
            break;
        }
        // A lone "-" is an operand (a file of that name), as usual.
        if (arg.size() < 2 || arg[0] != '-') {
            parsed.Operands.push_back(arg);
            continue;
        }
        const auto equals = arg.find('=');
        const std::string name = arg.substr(0, equals).substr(arg.compare(0, 2, "--") == 0 ? 2 : 1);
        const auto option = std::find_if(Command.Options.begin(), Command.Options.end(),
                                         [&](const TOption& o) { return o.Name == name; });
        if (arg.compare(0, 2, "--") != 0 || option == Command.Options.end()) {
            throw EUsage("unbekannte Option " + arg.substr(0, equals));
        }
        if (option->ValueName.empty()) {
            if (equals != std::string::npos) {
                throw EUsage("--" + name + " erwartet keinen Wert");
            }
            parsed.Options[name];
        } else if (equals != std::string::npos) {
            parsed.Options[name] = arg.substr(equals + 1);
            parsed.Given.emplace_back(name, parsed.Options[name]);
        } else if (i + 1 < Args.size()) {
            parsed.Options[name] = Args[++i];
            parsed.Given.emplace_back(name, parsed.Options[name]);
        } else {
            throw EUsage("--" + name + " erwartet einen Wert (" + std::string(option->ValueName) +
                         ")");
        }
    }
    return parsed;
}

std::string ProgramUsage(std::span<const TCommand* const> Commands) {
    std::string text = "Aufruf: " + std::string(ProgramName) + " BEFEHL [OPTIONEN]\n\nBefehle:\n";
    std::vector<std::pair<std::string, std::string>> rows;
    for (const TCommand* command : Commands) {
        rows.emplace_back(std::string(command->Name), std::string(command->Summary));
    }
    rows.emplace_back("help [BEFEHL]", "diese Hilfe anzeigen, mit BEFEHL die Optionen des Befehls");
    text += Table(rows);
    text += "\nOptionen:\n";
    text += Table({{"--help, -h", "diese Hilfe anzeigen"}, {"--version", "Version anzeigen"}});
    text +=
        "\n\"" + std::string(ProgramName) + " BEFEHL --help\" zeigt die Optionen eines Befehls.\n";
    return text;
}

std::string CommandUsage(const TCommand& Command) {
    std::string text =
        "Aufruf: " + Synopsis(Command) + "\n\n" + std::string(Command.Summary) + "\n\nOptionen:\n";
    std::vector<std::pair<std::string, std::string>> rows;
    for (const auto& option : Command.Options) {
        rows.emplace_back(OptionLabel(option), std::string(option.Help));
    }
    rows.emplace_back("--help, -h", "diese Hilfe anzeigen");
    return text + Table(rows);
}

int RunCli(std::span<const TCommand* const> Commands, std::span<const std::string> Args,
           TCommandContext& Context) {
    if (Args.empty()) {
        Context.Err << ProgramUsage(Commands);
        return ExitUsage;
    }
    if (IsHelp(Args[0])) {
        Context.Out << ProgramUsage(Commands);
        return ExitSuccess;
    }
    // "help" and "help BEFEHL" say what "--help" and "BEFEHL --help" say.
    const bool helpCommand = Args[0] == "help";
    if (helpCommand && Args.size() == 1) {
        Context.Out << ProgramUsage(Commands);
        return ExitSuccess;
    }
    if (helpCommand && Args.size() > 2) {
        Context.Err << ProgramName << " help: nur ein Befehl erlaubt\n\n" << ProgramUsage(Commands);
        return ExitUsage;
    }
    const std::string& name = helpCommand ? Args[1] : Args[0];
    const auto command = std::find_if(Commands.begin(), Commands.end(),
                                      [&](const TCommand* c) { return c->Name == name; });
    if (command == Commands.end()) {
        Context.Err << ProgramName << ": unbekannter Befehl \"" << name << "\"\n\n"
                    << ProgramUsage(Commands);
        return ExitUsage;
    }
    if (helpCommand) {
        Context.Out << CommandUsage(**command);
        return ExitSuccess;
    }
    const auto rest = Args.subspan(1);
    // Help wins wherever it stands before "--".
    for (const auto& arg : rest) {
        if (arg == "--") {
            break;
        }
        if (IsHelp(arg)) {
            Context.Out << CommandUsage(**command);
            return ExitSuccess;
        }
    }
    try {
        const TArguments arguments = ParseArguments(**command, rest);
        return (*command)->Run(arguments, Context);
    } catch (const EUsage& error) {
        Context.Err << ProgramName << " " << (*command)->Name << ": " << error.what() << "\n\n"
                    << CommandUsage(**command);
        return ExitUsage;
    }
}

}  // namespace tarnwick::cli
