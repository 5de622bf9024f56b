// Every program answers --version and --help (German) without doing anything else,
// the window and the terminal without a display; and tarnwick-cli's "help" command.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "child_process.h"

namespace tarnwick {
namespace {

struct TProgram {
    std::string Name;
    std::string Path;
};

std::ostream& operator<<(std::ostream& Out, const TProgram& Program) {
    return Out << Program.Name;
}

std::vector<TProgram> Programs() {
    return {
#ifdef TARNWICK_PATH
        {"tarnwick", TARNWICK_PATH},
#endif
#ifdef TARNWICK_CLI_PATH
        {"tarnwick-cli", TARNWICK_CLI_PATH},
#endif
#ifdef TARNWICK_TERMINAL_PATH
        {"tarnwick-terminal", TARNWICK_TERMINAL_PATH},
#endif
#ifdef TARNWICK_DEVSIM_PATH
        {"tarnwick-devsim", TARNWICK_DEVSIM_PATH},
#endif
    };
}

// Without a display and without Qt's offscreen platform: a program that made its
// QApplication first would abort here.
test::TProcessResult RunHeadless(const std::string& Path, const std::vector<std::string>& Args) {
    std::vector<std::string> argv = {
        "env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", Path};
    argv.insert(argv.end(), Args.begin(), Args.end());
    return test::RunProcess(argv);
}

class ProgramInfoTest : public ::testing::TestWithParam<TProgram> {};

TEST_P(ProgramInfoTest, VersionIsTheProjectsReleaseOnOneLine) {
    const auto result = RunHeadless(GetParam().Path, {"--version"});
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(result.Out, GetParam().Name + " " TARNWICK_VERSION "\n");
    EXPECT_EQ(result.Err, "");
    EXPECT_TRUE(std::regex_match(TARNWICK_VERSION, std::regex(R"(\d+\.\d+\.\d+)")));
}

TEST_P(ProgramInfoTest, HelpIsGermanOnStandardOutput) {
    for (const std::string option : {"--help", "-h"}) {
        const auto result = RunHeadless(GetParam().Path, {option});
        EXPECT_EQ(result.ExitCode, 0) << option << result.Err;
        EXPECT_EQ(result.Out.rfind("Aufruf: " + GetParam().Name, 0), 0u) << result.Out;
        EXPECT_NE(result.Out.find("--version"), std::string::npos) << result.Out;
        EXPECT_NE(result.Out.find("diese Hilfe anzeigen"), std::string::npos) << result.Out;
        EXPECT_EQ(result.Err, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramInfoTest, ::testing::ValuesIn(Programs()),
                         [](const auto& Info) {
                             std::string name = Info.param.Name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

#ifdef TARNWICK_CLI_PATH
test::TProcessResult RunCli(const std::vector<std::string>& Args) {
    std::vector<std::string> argv = {TARNWICK_CLI_PATH};
    argv.insert(argv.end(), Args.begin(), Args.end());
    return test::RunProcess(argv);
}

TEST(CliHelpCommand, SaysWhatHelpOptionsSay) {
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> pairs = {
        {{"help"}, {"--help"}},
        {{"help", "hexdump"}, {"hexdump", "--help"}},
        {{"help", "ports"}, {"ports", "--help"}},
        {{"help", "screen"}, {"screen", "--help"}},
        {{"help", "update"}, {"update", "--help"}},
    };
    for (const auto& [command, option] : pairs) {
        const auto byCommand = RunCli(command);
        const auto byOption = RunCli(option);
        EXPECT_EQ(byCommand.ExitCode, 0) << command.back() << byCommand.Err;
        EXPECT_EQ(byCommand.Out, byOption.Out) << command.back();
        EXPECT_NE(byCommand.Out, "");
        EXPECT_EQ(byCommand.Err, "");
    }
}

TEST(CliHelpCommand, UpdateHelpIsBuiltFromItsOptionTable) {
    const auto result = RunCli({"help", "update"});
    EXPECT_NE(result.Out.find("Aufruf: tarnwick-cli update ["), std::string::npos) << result.Out;
    EXPECT_NE(result.Out.find("  --password TEXT "), std::string::npos) << result.Out;
    EXPECT_NE(result.Out.find("  --yes "), std::string::npos) << result.Out;
}

TEST(CliHelpCommand, ProgramHelpNamesTheHelpCommand) {
    const auto result = RunCli({"help"});
    EXPECT_NE(result.Out.find("  help [BEFEHL] "), std::string::npos) << result.Out;
}

TEST(CliHelpCommand, UnknownCommandOrTooManyIsAUsageError) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"help", "flash"}, {"help", "hexdump", "update"}}) {
        const auto result = RunCli(args);
        EXPECT_EQ(result.ExitCode, 2) << args.back();
        EXPECT_EQ(result.Out, "");
        EXPECT_NE(result.Err.find("Aufruf: tarnwick-cli BEFEHL"), std::string::npos) << result.Err;
    }
}
#endif

}  // namespace
}  // namespace tarnwick
