// Every program answers --version and --help (German) without doing anything else,
// the window and the terminal without a display; and tarnwick-cli's "help" command.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "child_process.h"

namespace tarnwick {
namespace {

const std::vector<std::pair<std::string, std::string>> Programs = {
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
#ifdef TARNWICK_AVRSIM_PATH
    {"tarnwick-avrsim", TARNWICK_AVRSIM_PATH},
#endif
};

// Without a display and without Qt's offscreen platform: a program that made its
// QApplication first would abort here.
TEST(ProgramInfo, VersionAndGermanHelpOnStandardOutputWithoutADisplay) {
    ASSERT_FALSE(Programs.empty());
    EXPECT_TRUE(std::regex_match(TARNWICK_VERSION, std::regex(R"(\d+\.\d+\.\d+)")));
    for (const auto& [name, path] : Programs) {
        for (const std::string option : {"--version", "--help", "-h"}) {
            const auto result = test::RunProcess({"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY",
                                                  "-u", "QT_QPA_PLATFORM", path, option});
            EXPECT_EQ(result.ExitCode, 0) << name << " " << option << ": " << result.Err;
            EXPECT_EQ(result.Err, "") << name << " " << option;
            if (option == "--version") {
                EXPECT_EQ(result.Out, name + " " TARNWICK_VERSION "\n");
                continue;
            }
            EXPECT_EQ(result.Out.rfind("Aufruf: " + name, 0), 0u) << result.Out;
            EXPECT_NE(result.Out.find("--version"), std::string::npos) << result.Out;
            EXPECT_NE(result.Out.find("diese Hilfe anzeigen"), std::string::npos) << result.Out;
        }
    }
}

#ifdef TARNWICK_CLI_PATH
test::TProcessResult RunCli(std::vector<std::string> Args) {
    Args.insert(Args.begin(), TARNWICK_CLI_PATH);
    return test::RunProcess(Args);
}

// "help [BEFEHL]" prints what the --help option prints (Names: what it must hold); an
// unknown command or one too many is a usage error (Names: what its message holds).
TEST(CliHelpCommand, SaysWhatHelpOptionsSayAndRefusesWhatItDoesNotKnow) {
    const struct {
        std::vector<std::string> Command;
        std::vector<std::string> Option;  // none: a usage error
        std::vector<std::string> Names;
    } cases[] = {
        {{"help"}, {"--help"}, {"Aufruf: tarnwick-cli BEFEHL", "  help [BEFEHL] "}},
        {{"help", "hexdump"}, {"hexdump", "--help"}, {"Aufruf: tarnwick-cli hexdump "}},
        {{"help", "ports"}, {"ports", "--help"}, {"Aufruf: tarnwick-cli ports"}},
        {{"help", "screen"}, {"screen", "--help"}, {"Aufruf: tarnwick-cli screen "}},
        // Built from update's option table.
        {{"help", "update"},
         {"update", "--help"},
         {"Aufruf: tarnwick-cli update [", "  --password TEXT ", "  --yes "}},
        {{"help", "flash"}, {}, {"Aufruf: tarnwick-cli BEFEHL"}},
        {{"help", "hexdump", "update"}, {}, {"Aufruf: tarnwick-cli BEFEHL"}},
    };
    for (const auto& c : cases) {
        const std::string name = c.Command.back();
        const auto result = RunCli(c.Command);
        const bool help = !c.Option.empty();
        EXPECT_EQ(result.ExitCode, help ? 0 : 2) << name << result.Err;
        EXPECT_EQ(help ? result.Err : result.Out, "") << name;
        if (help) {
            EXPECT_EQ(result.Out, RunCli(c.Option).Out) << name;
        }
        for (const std::string& text : c.Names) {
            EXPECT_NE((help ? result.Out : result.Err).find(text), std::string::npos)
                << name << ": " << text << "\n"
                << result.Out << result.Err;
        }
    }
}
#endif

}  // namespace
}  // namespace tarnwick
