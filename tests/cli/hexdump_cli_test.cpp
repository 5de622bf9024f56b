// Runs the real tarnwick-cli program and checks what it prints and returns.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "firmware_image.h"
#include "hex_record.h"
#include "program_rows.h"
#include "temp_dir.h"
#include "text/cp1252.h"

namespace tarnwick {
namespace {

using test::DataRecord;
using test::EofRecord;
using test::SegmentRecord;

const std::string Cli = TARNWICK_CLI_PATH;
const std::string SamplesDir = TARNWICK_SAMPLES_DIR;

test::TProcessResult RunCli(std::vector<std::string> Args, const std::string& Dir = {},
                            std::chrono::milliseconds Timeout = std::chrono::seconds(30)) {
    Args.insert(Args.begin(), Cli);
    return test::RunProcess(Args, Timeout, Dir);
}

std::vector<std::string> Lines(const std::string& Text) {
    std::vector<std::string> lines;
    std::istringstream in(Text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string Join(const std::vector<std::string>& Lines) {
    std::string text;
    for (const auto& line : Lines) {
        text += line + "\n";
    }
    return text;
}

struct TOutcomeCase {
    std::string Name;
    std::string Text;  // file contents
    int ExitCode;
    std::string Err;  // "{f}" stands for the file name as given
    std::size_t OutLines;
};

std::ostream& operator<<(std::ostream& Out, const TOutcomeCase& Case) {
    return Out << Case.Name;
}

// The window stays silent on a file without an end-of-file record; the commands say it.
const std::string NoEndRecordErr =
    "Programmdatei \"{f}\": kein End-of-File-Record gelesen, nichts geladen\n";

class HexdumpOutcomeTest : public ::testing::TestWithParam<TOutcomeCase> {};

// update loads the file before it asks or opens anything, and a file hexdump refuses
// stops it with hexdump's message.
TEST_P(HexdumpOutcomeTest, MessageExitCodeAndRowsAndUpdateStopsAlike) {
    const TOutcomeCase& c = GetParam();
    const test::TTempDir dir;
    dir.Write("fw.hex", c.Text);
    // A relative name: the messages quote it exactly as given.
    std::string err = c.Err;
    if (const auto at = err.find("{f}"); at != std::string::npos) {
        err.replace(at, 3, "fw.hex");
    }
    const auto result = RunCli({"hexdump", "fw.hex"}, dir.Path().string());
    EXPECT_EQ(result.ExitCode, c.ExitCode) << result.Err;
    EXPECT_EQ(result.Err, err);
    EXPECT_EQ(Lines(result.Out).size(), c.OutLines);
    if (c.ExitCode != 0) {
        // A port that does not exist (a path beside the file): nothing may ever reach a
        // real serial line from here.
        const auto update =
            RunCli({"update", "--yes", "--port", "./kein-port", "fw.hex"}, dir.Path().string());
        EXPECT_EQ(update.ExitCode, 1) << update.Err;
        EXPECT_EQ(update.Err, err);
        EXPECT_EQ(update.Out, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Results, HexdumpOutcomeTest,
    ::testing::ValuesIn(std::vector<TOutcomeCase>{
        {"Loaded", Join({DataRecord(0x20, {1, 2, 3}), EofRecord}), 0,
         "Programmdatei \"{f}\" geladen\n", 3},
        {"NoEofRecord", Join({DataRecord(0, {1})}), 1, NoEndRecordErr, 0},
        {"EmptyFile", "", 1, NoEndRecordErr, 0},
        {"StoppedBeforeEofRecord", Join({DataRecord(0, {1}), "", EofRecord}), 1, NoEndRecordErr, 0},
        {"NotIntelHex", "hello\n", 1, "Ungültiges Dateiformat (kein Intel-Hex)\n", 0},
        {"UnknownRecord", Join({":020000040001F9", EofRecord}), 1,
         "Ungültiger Record in Hex-Datei (unbekannte Funktion)\n", 0},
        {"BadChecksum", Join({":0100000001FF", EofRecord}), 1, "Prüfsumme der Hex-Datei ungültig\n",
         0},
        {"TooLarge", Join({SegmentRecord(0x4000), DataRecord(0, {1}), EofRecord}), 1,
         "Hex-Datei größer als Flash-Speicher (262144 Byte)\n", 0},
        {"Duplicate", Join({DataRecord(0, {1}), DataRecord(0, {1}), EofRecord}), 1,
         "Eintrag in Datei doppelt vorhanden\n", 0},
    }),
    [](const auto& Info) { return Info.param.Name; });

TEST(HexdumpCli, RowsAreGridColumnsJoinedByTabs) {
    const test::TTempDir dir;
    std::vector<std::uint8_t> code = {0x0C, 0x94, 0x2A, 0x00, 'A', 'z', 0x7F, 0x1F, 0x80, ' '};
    const std::string file = dir.Write(
        "fw.hex", Join({DataRecord(0xF0, code), DataRecord(0x100, {0x41, 0x00, 0x42}), EofRecord}));
    const auto result = RunCli({"hexdump", file});
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    const auto lines = Lines(result.Out);
    ASSERT_EQ(lines.size(), 17u);
    EXPECT_EQ(lines[0],
              "000000)\tFF FF FF FF FF FF FF FF \t-\tFF FF FF FF FF FF FF FF \t"
              "................");
    EXPECT_EQ(lines[15],
              "0000F0)\t0C 94 2A 00 41 7A 7F 1F \t-\t80 20 FF FF FF FF FF FF \t..*.Az... ......");
    EXPECT_EQ(lines[16], "000100)\t41 00 42 \t\t\tA.B");
}

TEST(HexdumpCli, CompleteShowsWholeImage) {
    const test::TTempDir dir;
    const std::string file = dir.Write("fw.hex", Join({DataRecord(0, {0x55}), EofRecord}));
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"hexdump", "--complete", file}, {"hexdump", file, "--complete"}}) {
        const auto result = RunCli(args);
        ASSERT_EQ(result.ExitCode, 0) << result.Err;
        const auto lines = Lines(result.Out);
        ASSERT_EQ(lines.size(), 16384u);
        EXPECT_EQ(lines.front().substr(0, 11), "000000)\t55 ");
        EXPECT_EQ(lines.back(),
                  "03FFF0)\tFF FF FF FF FF FF FF FF \t-\tFF FF FF FF FF FF FF FF \t"
                  "................");
    }
    const auto plain = RunCli({"hexdump", file});
    EXPECT_EQ(plain.Out, "000000)\t55 \t\t\tU\n");
}

// The program's rows must be the library's rows, column for column.
TEST(HexdumpCli, SampleMatchesLibraryRows) {
    const std::string sample = SamplesDir + "/blink.hex";
    const auto result = RunCli({"hexdump", sample});
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(result.Err, FileLoadedMessage(sample) + "\n");
    TBuffer image;
    std::int32_t highest = 0;
    ASSERT_EQ(LoadHexFile(sample, image, highest, MaxFlashSize), HexLoaded);
    std::string expected;
    for (const auto& row : BuildProgramRows(image, false, highest)) {
        expected += row.Address + "\t" + row.Hex1 + "\t" + row.Dash + "\t" + row.Hex2 + "\t" +
                    PrintableAscii(row.Bytes) + "\n";
    }
    EXPECT_EQ(result.Out, expected);
}

TEST(HexdumpCli, AnythingButARegularFileIsNotFoundAndNeverRead) {
    const test::TTempDir dir;
    const std::string pipe = (dir.Path() / "pipe.hex").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    // A pipe without a writer or an endless device would block a reader for ever.
    for (const std::string& name :
         {std::string("nothing.hex"), std::string("."), dir.Path().string(), pipe,
          std::string("/dev/zero"), std::string("/dev/null")}) {
        const auto result =
            RunCli({"hexdump", name}, dir.Path().string(), std::chrono::seconds(10));
        EXPECT_FALSE(result.TimedOut) << name;
        EXPECT_EQ(result.ExitCode, 1) << name;
        EXPECT_EQ(result.Err, "Datei \"" + name + "\" nicht gefunden!\n") << name;
        EXPECT_EQ(result.Out, "") << name;
    }
}

TEST(HexdumpCli, FileNamedLikeAnOptionAfterDoubleDash) {
    const test::TTempDir dir;
    dir.Write("--complete", Join({DataRecord(0, {1}), EofRecord}));
    const auto result = RunCli({"hexdump", "--", "--complete"}, dir.Path().string());
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(result.Out, "000000)\t01 \t\t\t.\n");
}

struct TUsageCase {
    std::string Name;
    std::vector<std::string> Args;
    int ExitCode;
    bool UsageOnStdout;  // help goes to standard output, usage errors to error output
};

std::ostream& operator<<(std::ostream& Out, const TUsageCase& Case) {
    return Out << Case.Name;
}

class CliUsageTest : public ::testing::TestWithParam<TUsageCase> {};

TEST_P(CliUsageTest, ExitCodeAndUsageText) {
    const TUsageCase& c = GetParam();
    const auto result = RunCli(c.Args);
    EXPECT_EQ(result.ExitCode, c.ExitCode) << result.Err;
    const std::string& usage = c.UsageOnStdout ? result.Out : result.Err;
    const std::string& other = c.UsageOnStdout ? result.Err : result.Out;
    EXPECT_NE(usage.find("Aufruf: tarnwick-cli"), std::string::npos) << usage;
    EXPECT_NE(usage.find("hexdump"), std::string::npos) << usage;
    EXPECT_EQ(other, "");
}

INSTANTIATE_TEST_SUITE_P(CommandLines, CliUsageTest,
                         ::testing::ValuesIn(std::vector<TUsageCase>{
                             {"NoArguments", {}, 2, false},
                             {"UnknownCommand", {"flash"}, 2, false},
                             {"ProgramHelp", {"--help"}, 0, true},
                             {"ProgramHelpShort", {"-h"}, 0, true},
                             {"CommandHelp", {"hexdump", "--help"}, 0, true},
                             {"CommandHelpAfterFile", {"hexdump", "x.hex", "-h"}, 0, true},
                             {"NoFile", {"hexdump"}, 2, false},
                             {"TwoFiles", {"hexdump", "a.hex", "b.hex"}, 2, false},
                             {"UnknownLongOption", {"hexdump", "--all", "a.hex"}, 2, false},
                             {"UnknownShortOption", {"hexdump", "-c", "a.hex"}, 2, false},
                             {"FlagWithValue", {"hexdump", "--complete=yes", "a.hex"}, 2, false},
                         }),
                         [](const auto& Info) { return Info.param.Name; });

TEST(CliUsage, CommandHelpListsItsOptions) {
    const auto result = RunCli({"hexdump", "--help"});
    EXPECT_NE(result.Out.find("Aufruf: tarnwick-cli hexdump [--complete] DATEI"), std::string::npos)
        << result.Out;
    EXPECT_NE(result.Out.find("--complete"), std::string::npos);
}

}  // namespace
}  // namespace tarnwick
