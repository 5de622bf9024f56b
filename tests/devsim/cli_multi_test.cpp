// tarnwick-cli update with several ports against several simulated devices at once.

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "cli_support.h"
#include "devsim_process.h"

namespace tarnwick {
namespace {

using namespace test;

using TLineIt = std::vector<std::string>::const_iterator;

// Port's row of the table: its result with the reason after it, and its duration.
std::vector<std::string> Row(TLineIt From, TLineIt To, const std::string& Port) {
    const std::regex row(Port + " +(\\S+) +(\\d\\d:\\d\\d:\\d\\d) *(.*)");
    std::smatch m;
    for (; From != To; ++From) {
        if (std::regex_match(*From, m, row))
            return {m[3].length() > 0 ? m[1].str() + " " + m[3].str() : m[1].str(), m[2].str()};
    }
    return {};
}

std::size_t Occurrences(const std::string& Text, const std::string& Part) {
    std::size_t count = 0;
    for (auto at = Text.find(Part); at != std::string::npos; at = Text.find(Part, at + 1))
        ++count;
    return count;
}

// How the user takes part: --yes, or answers on a terminal; Ctrl-C or not. All but a
// Ctrl-C while programming, which needs the paced stream, run with update --fast against
// devices keeping line time at 115200 baud.
enum class TUser { Yes, CtrlCWhileProgramming, AnswersOnTerminal, CtrlCAtTheQuestion };

// The questions come once for all devices; one failing or hanging device stops none of the
// others; Ctrl-C cancels them all; the table at the end says how each device ended.
struct TMultiCase {
    const char* Name;
    TUser User;
    std::vector<std::string> Middle;  // the middle device's own options
    int ExitCode;
    std::vector<std::string> Rows;  // each device's result and reason, in port order
};

std::ostream& operator<<(std::ostream& os, const TMultiCase& c) {
    return os << c.Name;
}

const std::string Ok = "erfolgreich";
const std::string Cancel = "abgebrochen";
const std::string Mismatch = "fehlgeschlagen Gespeichertes Programm stimmt nicht mit Datei überein";
const std::string Hangs = "fehlgeschlagen Baustein reagiert nicht";

const TMultiCase MultiCases[] = {
    {"OneWrongVerdict", TUser::Yes, {"--wrong-verdict"}, 1, {Ok, Mismatch, Ok}},
    // Stops answering in the middle of programming: a hang on one line. (That the others
    // end meanwhile, as soon as alone, is measured in bench/cli.)
    {"OneHangs", TUser::Yes, {"--withhold-ack", "1"}, 1, {Ok, Hangs, Ok}},
    // Each stream still gets its end sequence and the closing commands go out without success.
    {"CtrlCWhileProgramming", TUser::CtrlCWhileProgramming, {}, 3, {Cancel, Cancel, Cancel}},
    {"AnsweredOnTheTerminal", TUser::AnswersOnTerminal, {}, 0, {Ok, Ok}},
    // Cancels them all before any port is touched.
    {"CtrlCAtTheQuestion", TUser::CtrlCAtTheQuestion, {}, 3, {Cancel, Cancel}},
};

class CliMultiTest : public ::testing::TestWithParam<TMultiCase> {};

TEST_P(CliMultiTest, EveryDeviceEndsOnItsOwnAndTheTableSaysHow) {
    const TMultiCase& c = GetParam();
    const bool onTerminal =
        c.User == TUser::AnswersOnTerminal || c.User == TUser::CtrlCAtTheQuestion;
    const bool started = c.User != TUser::CtrlCAtTheQuestion;
    const bool fast = c.User != TUser::CtrlCWhileProgramming;
    TTempDir dir;
    std::vector<std::string> args = {"update"};
    if (!onTerminal)
        args.push_back("--yes");
    if (fast)
        args.push_back("--fast");
    std::vector<std::unique_ptr<TTempDir>> dirs;
    std::vector<std::unique_ptr<TDevsim>> devices;
    for (std::size_t i = 0; i < c.Rows.size(); ++i) {
        std::vector<std::string> deviceArgs = {"--buffer", "4"};
        if (fast)
            deviceArgs.insert(deviceArgs.end(), {"--line-rate", "115200"});
        if (i == 1)
            deviceArgs.insert(deviceArgs.end(), c.Middle.begin(), c.Middle.end());
        dirs.push_back(std::make_unique<TTempDir>());
        devices.push_back(std::make_unique<TDevsim>(deviceArgs, dirs.back()->Path()));
        args.insert(args.end(), {"--port", devices.back()->PortPath()});
    }
    args.push_back(WriteHex(dir.Path()));
    TTerminal terminal;
    TChildProcess cli(TARNWICK_CLI_PATH, args, false,
                      onTerminal ? terminal.SlavePath : "/dev/null");
    std::string out;
    if (c.User == TUser::CtrlCWhileProgramming) {
        std::size_t programming = 0;
        for (int i = 0; i < 60 && programming < devices.size(); ++i) {
            const std::string line = cli.ReadLine(std::chrono::seconds(30));
            out += line + "\n";
            if (line.find("] Programmiere ") != std::string::npos)
                ++programming;
        }
        ASSERT_EQ(programming, devices.size()) << out;
        cli.Signal(SIGINT);
    } else if (onTerminal) {
        ASSERT_TRUE(cli.WaitForText("(j/N) ", std::chrono::seconds(10)));
        if (started) {
            terminal.Type("j\n");
            ASSERT_TRUE(cli.WaitForText("Eingabetaste", std::chrono::seconds(10)));
            terminal.Type("\n");
        } else {
            cli.Signal(SIGINT);
            terminal.Type("\x04");
        }
    }
    out += cli.ReadAll(std::chrono::seconds(90));
    ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(30)));
    EXPECT_EQ(cli.ExitCode(), c.ExitCode) << out;

    // Asked once for all, and told once to switch off unless cancelled at the question (with
    // --yes the two first lines, below).
    EXPECT_EQ(Occurrences(out, "(j/N)"), onTerminal ? 1u : 0u) << out;
    EXPECT_EQ(Occurrences(out, "Eingabetaste"), onTerminal && started ? 1u : 0u) << out;
    // The table ends the output: its heading and a row per device.
    const auto lines = Lines(out);
    ASSERT_GT(lines.size(), devices.size()) << out;
    const auto table = lines.cend() - static_cast<long>(devices.size() + 1);
    EXPECT_EQ(table->rfind("Port ", 0), 0u) << out;
    if (!onTerminal) {
        // Every line after the two dialogs names its port.
        EXPECT_EQ(lines[0], Question + " j");
        EXPECT_EQ(lines[1], SwitchOff);
        for (auto line = lines.cbegin() + 2; line != table; ++line)
            EXPECT_EQ(line->front(), '[') << *line;
    }
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const std::string& port = devices[i]->PortPath();
        SCOPED_TRACE(port);
        // On a terminal the first of them follows the switch-off prompt on its line.
        auto shown = [&](const std::string& Line) {
            return out.find("[" + port + "] " + Line + "\n") != std::string::npos;
        };
        EXPECT_EQ(shown("Gerät wieder einschalten!"), started);
        const auto row = Row(table, lines.cend(), port);
        ASSERT_EQ(row.size(), 2u) << out;
        EXPECT_EQ(row[0], c.Rows[i]);

        const TBytes sent = TraceBytes(devices[i]->Stop());
        if (!started) {
            EXPECT_TRUE(sent.empty());
        } else if (c.Rows[i] == Cancel) {
            EXPECT_TRUE(shown("Abbruch durch Benutzer")) << out;
            EXPECT_TRUE(EndsWith(sent, {0xA5, 0x80, 0xA5, 0x80, 0xA5, 0xA5}));
        } else if (c.Rows[i] == Ok) {
            const TBytes flash = devices[i]->Flash();
            ASSERT_GE(flash.size(), Image.size());
            EXPECT_TRUE(std::equal(Image.begin(), Image.end(), flash.begin()));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Devsim, CliMultiTest, ::testing::ValuesIn(MultiCases),
                         [](const auto& param) { return std::string(param.param.Name); });

}  // namespace
}  // namespace tarnwick
