// tarnwick-cli update as a user runs it: the real program against the simulated device.

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli_support.h"
#include "devsim_process.h"

namespace tarnwick {
namespace {

using namespace test;

// The default pacing, and line speed against a device keeping line time: the same lines.
struct TSpeedCase {
    const char* Name;
    std::vector<std::string> CliArgs;
    std::vector<std::string> DevsimArgs;
};

std::ostream& operator<<(std::ostream& os, const TSpeedCase& c) {
    return os << c.Name;
}

const TSpeedCase SpeedCases[] = {
    {"Paced", {}, {}},
    {"Fast", {"--fast"}, {"--line-rate", "115200"}},
};

class CliUpdateSpeedTest : public ::testing::TestWithParam<TSpeedCase> {};

TEST_P(CliUpdateSpeedTest, ProgramsAndVerifiesPrintingEveryMessageOnce) {
    const TSpeedCase& c = GetParam();
    TTempDir dir;
    const std::string hex = WriteHex(dir.Path());
    std::vector<std::string> devsimArgs = {"--buffer", "4"};
    devsimArgs.insert(devsimArgs.end(), c.DevsimArgs.begin(), c.DevsimArgs.end());
    TDevsim device(devsimArgs, dir.Path());
    std::vector<std::string> args = {"update", "--port", device.PortPath(), "--yes", hex};
    args.insert(args.begin() + 1, c.CliArgs.begin(), c.CliArgs.end());
    TChildProcess cli(TARNWICK_CLI_PATH, args);
    const std::string out = cli.ReadAll(std::chrono::seconds(90));
    ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(30)));
    EXPECT_EQ(cli.ExitCode(), 0) << out;

    std::vector<std::string> lines = Lines(out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("Gesamtdauer: 00:00:", 0), 0u) << lines.back();
    lines.pop_back();
    const std::vector<std::string> want = {
        Question + " j",
        SwitchOff,
        "Gerät wieder einschalten!",
        "Update läuft",
        "Verbunden: 2-Draht-Modus",
        "CRC-Check: aktiviert",
        "Bootloader-Version: 2.1",
        "Baustein: ATmega8",
        "Buffergröße: 4 Byte",
        "Flash: 8192 Byte",
        "CRC-Prüfsumme OK",
        "Programmiere 9 von 8192 Bytes Flash",
        "Programmieren erfolgreich beendet",
        "Überprüfe 9 von 8192 Bytes Flash",
        "Gespeichertes Programm korrekt übertragen",
        "CRC-Prüfsumme OK",
    };
    EXPECT_EQ(lines, want);

    device.Stop();
    const TBytes flash = device.Flash();
    ASSERT_EQ(flash.size(), 8192u);
    EXPECT_TRUE(std::equal(Image.begin(), Image.end(), flash.begin()));
}

INSTANTIATE_TEST_SUITE_P(Devsim, CliUpdateSpeedTest, ::testing::ValuesIn(SpeedCases),
                         [](const auto& param) { return std::string(param.param.Name); });

TEST(CliUpdate, FailedRunExitsWithOneAfterItsMessage) {
    TTempDir dir;
    const std::string hex = WriteHex(dir.Path());
    TDevsim device({"--buffer", "4", "--withhold-ack", "1"}, dir.Path());
    TChildProcess cli(TARNWICK_CLI_PATH, {"update", "--port", device.PortPath(), "--yes", hex});
    const std::string out = cli.ReadAll(std::chrono::seconds(90));
    ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(30)));
    EXPECT_EQ(cli.ExitCode(), 1) << out;
    const auto lines = Lines(out);
    ASSERT_GE(lines.size(), 3u) << out;
    EXPECT_EQ(lines[lines.size() - 3], "Programmiere 9 von 8192 Bytes Flash");
    EXPECT_EQ(lines[lines.size() - 2], "Baustein reagiert nicht");
    EXPECT_EQ(lines.back().rfind("Gesamtdauer: ", 0), 0u);
}

TEST(CliUpdate, WithoutATerminalEveryQuestionIsNo) {
    TTempDir dir;
    const std::string hex = WriteHex(dir.Path());
    TDevsim device({}, dir.Path());
    TChildProcess cli(TARNWICK_CLI_PATH, {"update", "--port", device.PortPath(), hex});
    const std::string out = cli.ReadAll(std::chrono::seconds(30));
    ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(30)));
    EXPECT_EQ(cli.ExitCode(), 1);
    const auto lines = Lines(out);
    ASSERT_EQ(lines.size(), 2u) << out;
    EXPECT_EQ(lines[0], Question + " n");
    EXPECT_EQ(lines[1], "Gesamtdauer: 00:00:00");
    EXPECT_TRUE(device.Stop().empty());
}

// The warning question on a terminal left without an answer line: the answer is No, the
// port stays untouched, and the question's line is ended before the next message.
struct TUnansweredCase {
    const char* Name;
    bool CtrlC;  // else the input ends (Ctrl-D)
    int ExitCode;
};

const TUnansweredCase UnansweredCases[] = {
    {"EndOfInput", false, 1},
    {"CtrlCCancels", true, 3},
};

std::ostream& operator<<(std::ostream& os, const TUnansweredCase& c) {
    return os << c.Name;
}

class CliUnansweredQuestionTest : public ::testing::TestWithParam<TUnansweredCase> {};

TEST_P(CliUnansweredQuestionTest, EndsTheQuestionLineAndTouchesNoPort) {
    const TUnansweredCase& c = GetParam();
    TTempDir dir;
    const std::string hex = WriteHex(dir.Path());
    TTerminal terminal;
    TChildProcess cli(TARNWICK_CLI_PATH, {"update", hex}, false, terminal.SlavePath);
    ASSERT_TRUE(cli.WaitForText("(j/N) ", std::chrono::seconds(10)));
    // The input ends in both cases: after Ctrl-C too, in case the signal came just before
    // the read began and so did not interrupt it.
    if (c.CtrlC)
        cli.Signal(SIGINT);
    terminal.Type("\x04");
    const std::string out = cli.ReadAll(std::chrono::seconds(10));
    ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(10)));
    EXPECT_EQ(cli.ExitCode(), c.ExitCode) << out;
    const auto lines = Lines(out);
    ASSERT_EQ(lines.size(), 2u) << out;
    EXPECT_EQ(lines[0], Question + " (j/N) ");
    EXPECT_EQ(lines[1], "Gesamtdauer: 00:00:00");
}

INSTANTIATE_TEST_SUITE_P(Terminal, CliUnansweredQuestionTest, ::testing::ValuesIn(UnansweredCases),
                         [](const auto& param) { return std::string(param.param.Name); });

TEST(CliUpdate, UsageErrors) {
    TTempDir dir;
    const std::string hex = WriteHex(dir.Path());
    const std::vector<std::vector<std::string>> cases = {
        {"update"},
        {"update", hex, hex},
        {"update", "--baud", "12345", hex},
        {"update", "--baud", "Custom", hex},
        {"update", "--bogus", hex},
        {"update", "--port"},
        {"update", "--pacing", "51", hex},
        {"update", "--pacing", "-1", hex},
        {"update", "--pacing", "5ms", hex},
        {"update", "--pacing", "", hex},
        {"update", "--fast", "--pacing", "10", hex},
        {"update", "--port", "/dev/a", "--port", "/dev/b", "--port", "/dev/a", hex},
        {"update", "--port", "/dev/a", "--port", "", hex},
    };
    for (const auto& args : cases) {
        TChildProcess cli(TARNWICK_CLI_PATH, args, true);
        const std::string out = cli.ReadAll(std::chrono::seconds(10));
        ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(10)));
        EXPECT_EQ(cli.ExitCode(), 2)
            << (args.size() > 2 ? args[1] + " " + args[2] : "") << ": " << out;
    }
}

TEST(CliUpdate, BadFileFailsBeforeThePortIsTouched) {
    TTempDir dir;
    {
        std::ofstream bad(dir.File("bad.hex"));
        bad << ":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF01\n:00000001FF\n";
    }
    // Reading a pipe would wait for a writer for ever: it is no firmware file.
    const std::string fifo = dir.File("fifo.hex");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    TDevsim device({}, dir.Path());
    struct {
        std::string File;
        std::string Message;
    } const cases[] = {
        {dir.File("missing.hex"), "nicht gefunden!"},
        {fifo, "nicht gefunden!"},
        {dir.File("bad.hex"), ""},
    };
    for (const auto& c : cases) {
        TChildProcess cli(TARNWICK_CLI_PATH,
                          {"update", "--port", device.PortPath(), "--yes", c.File}, true);
        const std::string out = cli.ReadAll(std::chrono::seconds(10));
        ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(10)));
        EXPECT_EQ(cli.ExitCode(), 1) << out;
        EXPECT_NE(out.find(c.Message), std::string::npos) << out;
        EXPECT_EQ(out.find("Warnung"), std::string::npos) << out;
    }
    EXPECT_TRUE(device.Stop().empty());
}

TEST(CliUpdate, PasswordGoesOutAsWindows1252Bytes) {
    TTempDir dir;
    const std::string hex = WriteHex(dir.Path());
    // The device knows the password as the bytes the Windows tool sends for "Käse".
    TDevsim device({"--password", "K\xE4se", "--buffer", "4", "--no-verify"}, dir.Path());
    TChildProcess cli(TARNWICK_CLI_PATH, {"update", "--port", device.PortPath(), "--yes",
                                          "--no-verify", "--password", "K\xC3\xA4se", hex});
    const std::string out = cli.ReadAll(std::chrono::seconds(120));
    ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(30)));
    EXPECT_EQ(cli.ExitCode(), 0) << out;
    const TBytes received = TraceBytes(device.Stop());
    const TBytes password = {'K', 0xE4, 's', 'e', 0xFF};
    EXPECT_NE(std::search(received.begin(), received.end(), password.begin(), password.end()),
              received.end());
}

TEST(CliUpdate, PasswordWithoutWindows1252BytesIsAUsageError) {
    TTempDir dir;
    const std::string hex = WriteHex(dir.Path());
    TChildProcess cli(TARNWICK_CLI_PATH, {"update", "--password", "\xC5\x82", hex}, true);
    const std::string out = cli.ReadAll(std::chrono::seconds(10));
    ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(10)));
    EXPECT_EQ(cli.ExitCode(), 2) << out;
    EXPECT_NE(out.find("Windows-1252"), std::string::npos) << out;
}

TEST(CliUpdate, ReaderThatGoesAwayDoesNotStopTheRunHalfWay) {
    TTempDir dir;
    const std::string hex = WriteHex(dir.Path());
    TDevsim device({"--buffer", "4"}, dir.Path());
    TChildProcess cli(TARNWICK_CLI_PATH, {"update", "--port", device.PortPath(), "--yes", hex});
    ASSERT_TRUE(cli.WaitForText("Update läuft", std::chrono::seconds(30)));
    cli.CloseOutput();  // as "| head -n 5" does
    ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(90)));
    // Not ended by SIGPIPE (-1): the run went through, and the lost output makes it 1.
    EXPECT_EQ(cli.ExitCode(), 1);

    const TBytes received = TraceBytes(device.Stop());
    const TBytes closing = {0xA5, 0x80, 0xA5, 0xA5, 0xA5, 0x05};
    ASSERT_GE(received.size(), closing.size());
    EXPECT_TRUE(std::equal(closing.begin(), closing.end(), received.end() - 6));
    EXPECT_TRUE(std::equal(Image.begin(), Image.end(), device.Flash().begin()));
}

TEST(CliUpdate, CtrlCDuringProgrammingCancelsAndClosesTheStream) {
    TTempDir dir;
    const std::string hex = WriteHex(dir.Path());
    TDevsim device({"--buffer", "4"}, dir.Path());
    TChildProcess cli(TARNWICK_CLI_PATH, {"update", "--port", device.PortPath(), "--yes", hex});
    std::string out;
    bool sent = false;
    for (int i = 0; i < 40 && !sent; ++i) {
        const std::string line = cli.ReadLine(std::chrono::seconds(30));
        out += line + "\n";
        if (line.rfind("Programmiere ", 0) == 0) {
            cli.Signal(SIGINT);
            sent = true;
        }
    }
    ASSERT_TRUE(sent) << out;
    out += cli.ReadAll(std::chrono::seconds(30));
    ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(30)));
    EXPECT_EQ(cli.ExitCode(), 3) << out;
    EXPECT_NE(out.find("\nAbbruch durch Benutzer\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("Überprüfe"), std::string::npos) << out;

    const TBytes sentBytes = TraceBytes(device.Stop());
    // The stream still got its end sequence, then the closing commands without success.
    const TBytes tail = {0xA5, 0x80, 0xA5, 0x80, 0xA5, 0xA5};
    ASSERT_GE(sentBytes.size(), tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), sentBytes.end() - 6));
}

TEST(CliUpdate, CtrlCBeforeConnectingStopsAfterTheFirstRound) {
    TTempDir dir;
    const std::string hex = WriteHex(dir.Path());
    TDevsim device({}, dir.Path());
    TChildProcess cli(TARNWICK_CLI_PATH, {"update", "--port", device.PortPath(), "--yes", hex});
    // The switch-off notice comes right before the port opens and the 3 s wait starts.
    std::string out = cli.ReadLine(std::chrono::seconds(30)) + "\n";
    out += cli.ReadLine(std::chrono::seconds(30)) + "\n";
    cli.Signal(SIGINT);
    out += cli.ReadAll(std::chrono::seconds(30));
    ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(30)));
    EXPECT_EQ(cli.ExitCode(), 3) << out;
    EXPECT_NE(out.find("\nAbbruch durch Benutzer\n"), std::string::npos) << out;
    // No connection, so no closing commands: only the first password byte went out.
    EXPECT_EQ(TraceBytes(device.Stop()), TBytes{'K'});
}

}  // namespace
}  // namespace tarnwick
