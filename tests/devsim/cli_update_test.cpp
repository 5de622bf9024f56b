// tarnwick-cli update as a user runs it: the real program against the simulated device.

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "cli_support.h"
#include "devsim_process.h"

namespace tarnwick {
namespace {

using namespace test;

std::vector<std::string> Join(std::vector<std::string> Lines,
                              const std::vector<std::string>& More) {
    Lines.insert(Lines.end(), More.begin(), More.end());
    return Lines;
}

const TBytes Kiwu = {'K', 'i', 'w', 'u', 0xFF};
const std::vector<std::string> UntilProgramming = Join(
    {Question + " j", SwitchOff},
    {"Gerät wieder einschalten!", "Update läuft", "Verbunden: 2-Draht-Modus",
     "CRC-Check: aktiviert", "Bootloader-Version: 2.1", "Baustein: ATmega8", "Buffergröße: 4 Byte",
     "Flash: 8192 Byte", "CRC-Prüfsumme OK", "Programmiere 9 von 8192 Bytes Flash"});
const std::vector<std::string> Success =
    Join(UntilProgramming, {"Programmieren erfolgreich beendet", "Überprüfe 9 von 8192 Bytes Flash",
                            "Gespeichertes Programm korrekt übertragen", "CRC-Prüfsumme OK"});

// One update against a device with a 4-byte buffer: every message printed once, the exit
// status, the password cycle and the closing bytes the device received, on success the image
// in its flash. A run that never opens the port takes no time.
struct TRunCase {
    const char* Name;
    std::vector<std::string> CliArgs;
    std::vector<std::string> DevsimArgs;
    std::string CtrlCAt;  // Ctrl-C once the output shows this
    int ExitCode;
    std::vector<std::string> Lines;  // all but the duration
    TBytes Closing;                  // the last bytes the device received
    TBytes Cycle = Kiwu;             // none: the device received Closing alone
    bool Terminal = false;           // as input, which ends at the warning question
};

std::ostream& operator<<(std::ostream& os, const TRunCase& c) {
    return os << c.Name;
}

const std::vector<std::string> Yes = {"--yes"};
const std::vector<std::string> Fast = {"--yes", "--fast"};
const std::vector<std::string> Kaese = {"--yes", "--password", "K\xC3\xA4se"};
const TBytes KaeseCycle = {'K', 0xE4, 's', 'e', 0xFF};
// A device that says in every query reply that it is a Tarnwick bootloader: the default
// run takes line speed after the queries, and says so.
const std::vector<std::string> Marked = [] {
    std::vector<std::string> lines = Success;
    const auto flash = std::find(lines.begin(), lines.end(), "Flash: 8192 Byte");
    lines.insert(flash + 1, "Übertragung: schnell (Tarnwick-Bootloader)");
    return lines;
}();
const std::vector<std::string> Unacknowledged = Join(UntilProgramming, {"Baustein reagiert nicht"});
const std::vector<std::string> Cancelled = Join(UntilProgramming, {"Abbruch durch Benutzer"});
const std::vector<std::string> CancelledEarly = {
    Question + " j", SwitchOff, "Gerät wieder einschalten!", "Abbruch durch Benutzer"};
const std::vector<std::string> Unanswered = {Question + " (j/N) "};
const TBytes WithSuccess = {0xA5, 0x80, 0xA5, 0xA5, 0xA5, 0x05};
const TBytes WithoutSuccess = {0xA5, 0x80, 0xA5, 0xA5};
const TBytes EndWithoutSuccess = {0xA5, 0x80, 0xA5, 0x80, 0xA5, 0xA5};

const TRunCase RunCases[] = {
    {"Paced", Yes, {}, "", 0, Success, WithSuccess},
    // Line speed against a device keeping line time: the same lines.
    {"Fast", Fast, {"--line-rate", "115200", "--exit-after-success"}, "", 0, Success, WithSuccess},
    // A Tarnwick bootloader, at one of the fast rates the port sets as a custom rate.
    {"Marked",
     {"--yes", "--baud", "1000000"},
     {"--tarnwick-mark", "--line-rate", "1000000", "--exit-after-success"},
     "",
     0,
     Marked,
     WithSuccess},
    // --paced holds the specified pacing for a Tarnwick bootloader too: no word of speed.
    {"MarkedPaced", {"--yes", "--paced"}, {"--tarnwick-mark"}, "", 0, Success, WithSuccess},
    {"Unacknowledged", Yes, {"--withhold-ack", "1"}, "", 1, Unacknowledged, WithoutSuccess},
    // The device knows the password as the bytes the Windows tool sends for "Käse".
    {"Password1252", Kaese, {"--password", "K\xE4se"}, "", 0, Success, WithSuccess, KaeseCycle},
    // The stream still gets its end sequence, then the closing commands without success.
    {"CtrlCWhileProgramming", Yes, {}, "Programmiere ", 3, Cancelled, EndWithoutSuccess},
    // The switch-off notice comes right before the port opens and the 3 s wait starts: no
    // connection, so no closing commands, only the first password byte went out.
    {"CtrlCBeforeConnecting", Yes, {}, SwitchOff, 3, CancelledEarly, {'K'}, {}},
    // Without a terminal every question is No; on a terminal so is a question left without an
    // answer line, and its line is ended before the next message. Either way the port stays
    // untouched. The input ends after Ctrl-C too, in case the signal came just before the read
    // began and so did not interrupt it.
    {"NoTerminal", {}, {}, "", 1, {Question + " n"}, {}, {}},
    {"TerminalEnds", {}, {}, "", 1, Unanswered, {}, {}, true},
    {"TerminalCtrlC", {}, {}, "(j/N) ", 3, Unanswered, {}, {}, true},
};

class CliUpdateRunTest : public ::testing::TestWithParam<TRunCase> {};

TEST_P(CliUpdateRunTest, PrintsEveryMessageOnceAndExitsWithItsStatus) {
    const TRunCase& c = GetParam();
    TTempDir dir;
    const std::string hex = WriteHex(dir.Path());
    std::vector<std::string> devsimArgs = {"--buffer", "4"};
    devsimArgs.insert(devsimArgs.end(), c.DevsimArgs.begin(), c.DevsimArgs.end());
    TDevsim device(devsimArgs, dir.Path());
    std::vector<std::string> args = {"update", "--port", device.PortPath()};
    args.insert(args.end(), c.CliArgs.begin(), c.CliArgs.end());
    args.push_back(hex);
    TTerminal terminal;
    TChildProcess cli(TARNWICK_CLI_PATH, args, false,
                      c.Terminal ? terminal.SlavePath : "/dev/null");
    if (!c.CtrlCAt.empty()) {
        ASSERT_TRUE(cli.WaitForText(c.CtrlCAt, std::chrono::seconds(30)));
        cli.Signal(SIGINT);
    }
    if (c.Terminal) {
        ASSERT_TRUE(cli.WaitForText("(j/N) ", std::chrono::seconds(10)));
        terminal.Type("\x04");
    }
    const std::string out = cli.ReadAll(std::chrono::seconds(90));
    ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(30)));
    EXPECT_EQ(cli.ExitCode(), c.ExitCode) << out;

    std::vector<std::string> lines = Lines(out);
    ASSERT_FALSE(lines.empty());
    const bool untouched = c.Closing.empty() && c.Cycle.empty();
    const std::string duration = untouched ? "Gesamtdauer: 00:00:00" : "Gesamtdauer: 00:00:";
    EXPECT_EQ(lines.back().rfind(duration, 0), 0u) << lines.back();
    lines.pop_back();
    EXPECT_EQ(lines, c.Lines);

    const bool endsItself = std::find(c.DevsimArgs.begin(), c.DevsimArgs.end(),
                                      "--exit-after-success") != c.DevsimArgs.end();
    const TBytes sent =
        TraceBytes(device.Stop(std::chrono::seconds(endsItself && c.ExitCode == 0 ? 10 : 0)));
    if (c.Cycle.empty()) {
        EXPECT_EQ(sent, c.Closing);
    } else {
        EXPECT_NE(std::search(sent.begin(), sent.end(), c.Cycle.begin(), c.Cycle.end()),
                  sent.end());
        EXPECT_TRUE(EndsWith(sent, c.Closing));
    }
    if (c.ExitCode == 0) {
        const TBytes flash = device.Flash();
        ASSERT_EQ(flash.size(), 8192u);
        EXPECT_TRUE(std::equal(Image.begin(), Image.end(), flash.begin()));
    }
}

INSTANTIATE_TEST_SUITE_P(Devsim, CliUpdateRunTest, ::testing::ValuesIn(RunCases),
                         [](const auto& param) { return std::string(param.param.Name); });

TEST(CliUpdate, UsageErrorsExitWithTwo) {
    TTempDir dir;
    const std::string hex = WriteHex(dir.Path());
    const struct {
        std::vector<std::string> Args;
        std::string Says;
    } cases[] = {
        {{"update"}, ""},
        {{"update", hex, hex}, ""},
        {{"update", "--baud", "12345", hex}, ""},
        {{"update", "--baud", "Custom", hex}, ""},
        {{"update", "--bogus", hex}, ""},
        {{"update", "--port"}, ""},
        {{"update", "--pacing", "51", hex}, ""},
        {{"update", "--pacing", "-1", hex}, ""},
        {{"update", "--pacing", "5ms", hex}, ""},
        {{"update", "--pacing", "", hex}, ""},
        {{"update", "--fast", "--pacing", "10", hex}, ""},
        {{"update", "--paced", "--fast", hex}, "widersprechen"},
        {{"update", "--paced", "--pacing", "10", hex}, "widersprechen"},
        {{"update", "--port", "/dev/a", "--port", "/dev/b", "--port", "/dev/a", hex}, ""},
        {{"update", "--port", "/dev/a", "--port", "", hex}, ""},
        {{"update", "--password", "\xC5\x82", hex}, "Windows-1252"},
    };
    for (const auto& c : cases) {
        TChildProcess cli(TARNWICK_CLI_PATH, c.Args, true);
        const std::string out = cli.ReadAll(std::chrono::seconds(10));
        ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(10)));
        const std::string named = c.Args.size() > 2 ? c.Args[1] + " " + c.Args[2] : "";
        EXPECT_EQ(cli.ExitCode(), 2) << named << ": " << out;
        EXPECT_NE(out.find(c.Says), std::string::npos) << named << ": " << out;
    }
}

TEST(CliUpdate, BadFileFailsBeforeThePortIsTouched) {
    TTempDir dir;
    std::ofstream(dir.File("bad.hex"))
        << ":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF01\n:00000001FF\n";
    // Reading a pipe would wait for a writer for ever: it is no firmware file.
    const std::string fifo = dir.File("fifo.hex");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    TDevsim device({}, dir.Path());
    const struct {
        std::string File;
        std::string Message;
    } cases[] = {
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

// On a single wire the device returns the host's bytes, terminal queries in the image
// among them: the hidden terminal must not answer them into the data stream.
TEST(CliUpdate, SingleWireImageHoldingTerminalQueriesIsFlashedIntact) {
    TTempDir dir;
    const TBytes image = {0x0C, 0x1B, '[', 'c', 0x94, 0x1B, '[', '6', 'n', 0x11, 0x24};
    const std::string hex = dir.File("queries.hex");
    std::ofstream(hex) << DataRecord(0, image) << "\n" << EofRecord << "\n";
    TDevsim device({"--echo"}, dir.Path());
    TChildProcess cli(TARNWICK_CLI_PATH, {"update", "--port", device.PortPath(), "--yes", hex},
                      true);
    const std::string out = cli.ReadAll(std::chrono::seconds(90));
    ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(30)));
    EXPECT_EQ(cli.ExitCode(), 0) << out;
    EXPECT_NE(out.find("Verbunden: 1-Draht-Modus"), std::string::npos) << out;
    EXPECT_TRUE(EndsWith(TraceBytes(device.Stop()), {0xA5, 0x80, 0xA5, 0xA5, 0xA5, 0x05}));
    EXPECT_TRUE(std::equal(image.begin(), image.end(), device.Flash().begin()));
}

// The messages lost with their reader do not undo a good flash: a script that sees a
// failure would flash the device again.
TEST(CliUpdate, ReaderThatGoesAwayLeavesTheStatusOfTheUpdate) {
    TTempDir dir;
    const std::string hex = WriteHex(dir.Path());
    TDevsim device({"--buffer", "4"}, dir.Path());
    TChildProcess cli(TARNWICK_CLI_PATH, {"update", "--port", device.PortPath(), "--yes", hex});
    ASSERT_TRUE(cli.WaitForText("Update läuft", std::chrono::seconds(30)));
    cli.CloseOutput();  // as "| head -n 5" does
    ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(90)));
    cli.ReadAll(std::chrono::seconds(5));  // the rest of standard error
    // Not ended by SIGPIPE (-1): the run went through and succeeded.
    EXPECT_EQ(cli.ExitCode(), 0) << cli.Err();
    EXPECT_NE(cli.Err().find("Meldungen gingen verloren; das Update ist gelungen"),
              std::string::npos)
        << cli.Err();
    EXPECT_TRUE(EndsWith(TraceBytes(device.Stop()), WithSuccess));
    EXPECT_TRUE(std::equal(Image.begin(), Image.end(), device.Flash().begin()));
}

// A device switched on or reset by other means: without the switch-off notice, the hint and
// the waits for them, and with --fast at line speed, the device receives exactly the bytes
// of the default run, and the messages are the same but for the two left out.
TEST(CliUpdate, WithoutPowerCycleTheDeviceReceivesTheBytesOfTheDefaultRun) {
    const struct {
        const char* Name;
        std::vector<std::string> Args;
        bool PowerCycle;
    } cases[] = {
        {"default", {"--yes"}, true},
        {"no power cycle", {"--yes", "--no-power-cycle"}, false},
        {"no power cycle, fast", {"--yes", "--no-power-cycle", "--fast"}, false},
        {"fast", {"--yes", "--fast"}, true},
    };
    std::vector<std::string> withoutPowerCycle;
    for (const std::string& line : Success) {
        if (line != SwitchOff && line != "Gerät wieder einschalten!")
            withoutPowerCycle.push_back(line);
    }
    TBytes defaultTrace;
    for (const auto& c : cases) {
        TTempDir dir;
        const std::string hex = WriteHex(dir.Path());
        TDevsim device({"--buffer", "4", "--line-rate", "115200", "--exit-after-success"},
                       dir.Path());
        std::vector<std::string> args = {"update", "--port", device.PortPath()};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        args.push_back(hex);
        TChildProcess cli(TARNWICK_CLI_PATH, args, false, "/dev/null");
        const std::string out = cli.ReadAll(std::chrono::seconds(90));
        ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(30))) << c.Name;
        EXPECT_EQ(cli.ExitCode(), 0) << c.Name << ": " << out;
        std::vector<std::string> lines = Lines(out);
        ASSERT_FALSE(lines.empty()) << c.Name;
        lines.pop_back();  // the duration
        EXPECT_EQ(lines, c.PowerCycle ? Success : withoutPowerCycle) << c.Name;

        const auto trace = device.Stop(std::chrono::seconds(10));
        ASSERT_FALSE(trace.empty()) << c.Name;
        // Only a bound a loaded machine cannot break: the default run's device hears nothing
        // before the 3 s and 1 s waits are over.
        if (c.PowerCycle) {
            EXPECT_GE(trace.front().TimeMs, 4000.0) << c.Name;
        }
        if (defaultTrace.empty()) {
            defaultTrace = TraceBytes(trace);
        } else {
            EXPECT_EQ(TraceBytes(trace), defaultTrace) << c.Name;
        }
        EXPECT_TRUE(std::equal(Image.begin(), Image.end(), device.Flash().begin())) << c.Name;
    }
}

}  // namespace
}  // namespace tarnwick
