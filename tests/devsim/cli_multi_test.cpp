// tarnwick-cli update with several ports against several simulated devices at once.

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli_support.h"
#include "devsim_process.h"

namespace tarnwick {
namespace {

using namespace test;

struct TDevices {
    explicit TDevices(const std::vector<std::vector<std::string>>& Args) {
        for (std::size_t i = 0; i < Args.size(); ++i) {
            Dirs.push_back(std::make_unique<TTempDir>());
            std::vector<std::string> args = {"--buffer", "4"};
            args.insert(args.end(), Args[i].begin(), Args[i].end());
            Devices.push_back(std::make_unique<TDevsim>(args, Dirs.back()->Path()));
        }
    }
    // "--port A --port B ..." for the command line.
    std::vector<std::string> PortArgs() const {
        std::vector<std::string> args;
        for (const auto& d : Devices)
            args.insert(args.end(), {"--port", d->PortPath()});
        return args;
    }
    std::vector<std::unique_ptr<TTempDir>> Dirs;
    std::vector<std::unique_ptr<TDevsim>> Devices;
};

std::vector<std::string> Update(const std::vector<std::string>& Ports,
                                const std::vector<std::string>& Options, const std::string& Hex) {
    std::vector<std::string> args = {"update"};
    args.insert(args.end(), Options.begin(), Options.end());
    args.insert(args.end(), Ports.begin(), Ports.end());
    args.push_back(Hex);
    return args;
}

// The table row of Port: its words after the port.
std::vector<std::string> Row(const std::vector<std::string>& OutLines, const std::string& Port) {
    for (const std::string& line : OutLines) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (first != Port)
            continue;
        std::vector<std::string> rest;
        std::string word;
        while (words >> word)
            rest.push_back(word);
        return rest;
    }
    return {};
}

bool IsDuration(const std::string& Text) {
    return Text.size() == 8 && Text[2] == ':' && Text[5] == ':' &&
           std::all_of(Text.begin(), Text.end(),
                       [](char c) { return c == ':' || std::isdigit(c); });
}

// Three devices, the middle one failing: the others succeed, the table says which failed
// and why, and the exit status is 1.
struct TFailingCase {
    const char* Name;
    std::vector<std::string> FailingArgs;
    std::string Reason;
    bool Hangs = false;
};

std::ostream& operator<<(std::ostream& os, const TFailingCase& c) {
    return os << c.Name;
}

const TFailingCase FailingCases[] = {
    {"WrongVerdict", {"--wrong-verdict"}, "Gespeichertes Programm stimmt nicht mit Datei überein"},
    // Stops answering in the middle of programming: a hang on one line.
    {"Hangs", {"--withhold-ack", "1"}, "Baustein reagiert nicht", true},
};

class CliMultiFailingTest : public ::testing::TestWithParam<TFailingCase> {};

TEST_P(CliMultiFailingTest, OthersSucceedAndTheTableSaysWhichFailed) {
    const TFailingCase& c = GetParam();
    const std::vector<std::string> fast = {"--line-rate", "115200"};
    std::vector<std::string> failing = fast;
    failing.insert(failing.end(), c.FailingArgs.begin(), c.FailingArgs.end());
    TDevices devices({fast, failing, fast});
    TTempDir dir;
    const std::string hex = WriteHex(dir.Path());
    TChildProcess cli(TARNWICK_CLI_PATH, Update(devices.PortArgs(), {"--fast", "--yes"}, hex));
    const std::string out = cli.ReadAll(std::chrono::seconds(90));
    ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(30)));
    EXPECT_EQ(cli.ExitCode(), 1) << out;

    const auto lines = Lines(out);
    // Asked once for all; every other line before the table names its port.
    ASSERT_GE(lines.size(), 2u) << out;
    EXPECT_EQ(lines[0], Question + " j");
    EXPECT_EQ(lines[1], SwitchOff);
    const auto table = std::find_if(lines.begin(), lines.end(),
                                    [](const std::string& l) { return l.rfind("Port ", 0) == 0; });
    ASSERT_EQ(lines.end() - table, 4) << out;
    for (auto line = lines.begin() + 2; line != table; ++line)
        EXPECT_EQ(line->front(), '[') << *line;
    const std::vector<std::string> tableLines(table, lines.end());
    const auto failingRow = Row(tableLines, devices.Devices[1]->PortPath());
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string& port = devices.Devices[i]->PortPath();
        EXPECT_NE(std::find(lines.begin(), table, "[" + port + "] Gerät wieder einschalten!"),
                  table)
            << port;
        const auto row = Row(tableLines, port);
        ASSERT_GE(row.size(), 2u) << port << "\n" << out;
        EXPECT_TRUE(IsDuration(row[1])) << row[1];
        std::string reason;
        for (std::size_t w = 2; w < row.size(); ++w)
            reason += (reason.empty() ? "" : " ") + row[w];
        if (i == 1) {
            EXPECT_EQ(row[0], "fehlgeschlagen");
            EXPECT_EQ(reason, c.Reason);
        } else {
            EXPECT_EQ(row[0], "erfolgreich");
            EXPECT_EQ(reason, "");
            // The hung device waits 5 s for its acknowledgement; the others end meanwhile.
            if (c.Hangs && failingRow.size() >= 2) {
                EXPECT_LT(row[1], failingRow[1]) << port;
            }
            devices.Devices[i]->Stop();
            const TBytes flash = devices.Devices[i]->Flash();
            ASSERT_GE(flash.size(), Image.size());
            EXPECT_TRUE(std::equal(Image.begin(), Image.end(), flash.begin())) << port;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Devsim, CliMultiFailingTest, ::testing::ValuesIn(FailingCases),
                         [](const auto& param) { return std::string(param.param.Name); });

// Ctrl-C while every device programs cancels them all: each stream still gets its end
// sequence and the closing commands go out without success.
TEST(CliMulti, CtrlCCancelsEveryDevice) {
    TDevices devices({{}, {}, {}});
    TTempDir dir;
    const std::string hex = WriteHex(dir.Path());
    TChildProcess cli(TARNWICK_CLI_PATH, Update(devices.PortArgs(), {"--yes"}, hex));
    std::string out;
    int programming = 0;
    for (int i = 0; i < 60 && programming < 3; ++i) {
        const std::string line = cli.ReadLine(std::chrono::seconds(30));
        out += line + "\n";
        if (line.find("] Programmiere ") != std::string::npos)
            ++programming;
    }
    ASSERT_EQ(programming, 3) << out;
    cli.Signal(SIGINT);
    out += cli.ReadAll(std::chrono::seconds(60));
    ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(30)));
    EXPECT_EQ(cli.ExitCode(), 3) << out;
    const auto lines = Lines(out);
    const TBytes tail = {0xA5, 0x80, 0xA5, 0x80, 0xA5, 0xA5};
    for (const auto& device : devices.Devices) {
        const std::string& port = device->PortPath();
        EXPECT_NE(std::find(lines.begin(), lines.end(), "[" + port + "] Abbruch durch Benutzer"),
                  lines.end())
            << port << "\n"
            << out;
        const auto row = Row(lines, port);
        EXPECT_EQ(row.empty() ? "" : row[0], "abgebrochen") << out;
        const TBytes sent = TraceBytes(device->Stop());
        ASSERT_GE(sent.size(), tail.size());
        EXPECT_TRUE(std::equal(tail.begin(), tail.end(), sent.end() - 6)) << port;
    }
}

// Without --yes on a terminal: the question and the notice come once for all devices, and
// Ctrl-C at the question cancels them all before any port is touched.
struct TAskedCase {
    const char* Name;
    bool CtrlC;
    int ExitCode;
    std::string Result;
};

std::ostream& operator<<(std::ostream& os, const TAskedCase& c) {
    return os << c.Name;
}

const TAskedCase AskedCases[] = {
    {"AnsweredYes", false, 0, "erfolgreich"},
    {"CtrlC", true, 3, "abgebrochen"},
};

class CliMultiAskedTest : public ::testing::TestWithParam<TAskedCase> {};

std::size_t Occurrences(const std::string& Text, const std::string& Part) {
    std::size_t count = 0;
    for (auto at = Text.find(Part); at != std::string::npos; at = Text.find(Part, at + 1))
        ++count;
    return count;
}

TEST_P(CliMultiAskedTest, OnceForAllDevices) {
    const TAskedCase& c = GetParam();
    const std::vector<std::string> fast = {"--line-rate", "115200"};
    TDevices devices({fast, fast});
    TTempDir dir;
    const std::string hex = WriteHex(dir.Path());
    TTerminal terminal;
    TChildProcess cli(TARNWICK_CLI_PATH, Update(devices.PortArgs(), {"--fast"}, hex), false,
                      terminal.SlavePath);
    ASSERT_TRUE(cli.WaitForText("(j/N) ", std::chrono::seconds(10)));
    if (c.CtrlC) {
        cli.Signal(SIGINT);
        terminal.Type("\x04");
    } else {
        terminal.Type("j\n");
        ASSERT_TRUE(cli.WaitForText("Eingabetaste", std::chrono::seconds(10)));
        terminal.Type("\n");
    }
    const std::string out = cli.ReadAll(std::chrono::seconds(60));
    ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(30)));
    EXPECT_EQ(cli.ExitCode(), c.ExitCode) << out;
    EXPECT_EQ(Occurrences(out, "(j/N)"), 1u) << out;
    EXPECT_EQ(Occurrences(out, "Eingabetaste"), c.CtrlC ? 0u : 1u) << out;
    const auto lines = Lines(out);
    for (const auto& device : devices.Devices) {
        const auto row = Row(lines, device->PortPath());
        EXPECT_EQ(row.empty() ? "" : row[0], c.Result) << out;
        if (c.CtrlC) {
            EXPECT_TRUE(device->Stop().empty());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Terminal, CliMultiAskedTest, ::testing::ValuesIn(AskedCases),
                         [](const auto& param) { return std::string(param.param.Name); });

}  // namespace
}  // namespace tarnwick
