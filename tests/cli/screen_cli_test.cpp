// tarnwick-cli screen, the real program on captured logs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "temp_dir.h"

namespace tarnwick {
namespace {

test::TProcessResult Screen(const std::string& Log, std::vector<std::string> Options) {
    const test::TTempDir dir;
    Options.insert(Options.begin(), {TARNWICK_CLI_PATH, "screen"});
    Options.push_back(dir.Write("capture.log", Log));
    return test::RunProcess(Options);
}

struct TScreenCase {
    const char* Name;
    std::string Log;
    std::vector<std::string> Options;
    std::string Out;
};

void PrintTo(const TScreenCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class ScreenCommand : public testing::TestWithParam<TScreenCase> {};

TEST_P(ScreenCommand, PrintsTheFinalScreenAndCaret) {
    const TScreenCase& c = GetParam();
    const test::TProcessResult result = Screen(c.Log, c.Options);
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(result.Out, c.Out);
}

INSTANTIATE_TEST_SUITE_P(
    Logs, ScreenCommand,
    testing::Values(TScreenCase{"BootLogWithColoursAndMoves",
                                "Boot v1.2\r\n\x1b[1;32mOK\x1b[0m\r\n\x1b[4;6HHallo\x1b[2;1HX",
                                {"--rows", "4", "--columns", "12"},
                                "Boot v1.2\nXK\n\n     Hallo\nSchreibmarke: 2;2\n"},
                    TScreenCase{"Windows1252BecomesUtf8",
                                "Gr\xfc\xdf"
                                "e \x80 5\xb0",
                                {"--rows", "2"},
                                "Grüße € 5°\n\nSchreibmarke: 1;11\n"},
                    TScreenCase{"ScrolledAway",
                                "1\r\n2\r\n3\r\n4",
                                {"--rows", "2"},
                                "3\n4\nSchreibmarke: 2;2\n"},
                    TScreenCase{"Wrap",
                                "abcdefg",
                                {"--rows", "2", "--columns", "4", "--wrap"},
                                "abcd\nefg\nSchreibmarke: 2;4\n"},
                    TScreenCase{"Vt52",
                                "xx\x1bY\"#y\x1bHz",
                                {"--rows", "4", "--vt52"},
                                "zx\n\n   y\n\nSchreibmarke: 1;2\n"},
                    TScreenCase{"NoEmulation",
                                "a\x1b[2Jb",
                                {"--rows", "2", "--no-emulation"},
                                "a[2Jb\n\nSchreibmarke: 1;6\n"},
                    TScreenCase{"AppendLfAndForce7Bit",
                                "A\rB\xc3",
                                {"--rows", "3", "--append-lf", "--force-7bit"},
                                "A\nBC\n\nSchreibmarke: 2;3\n"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(ScreenCommand, ReadsStandardInputAndRefusesWrongOptions) {
    // Standard input is /dev/null here: an empty screen.
    const test::TProcessResult empty =
        test::RunProcess({TARNWICK_CLI_PATH, "screen", "--rows", "2", "-"});
    EXPECT_EQ(empty.ExitCode, 0);
    EXPECT_EQ(empty.Out, "\n\nSchreibmarke: 1;1\n");

    const std::vector<std::vector<std::string>> wrong = {{"--rows", "1"},
                                                         {"--columns", "300"},
                                                         {"--columns", "8x"},
                                                         {"--vt52", "--no-emulation"},
                                                         {"a.log", "b.log"}};
    for (const auto& options : wrong) {
        std::vector<std::string> argv = {TARNWICK_CLI_PATH, "screen"};
        argv.insert(argv.end(), options.begin(), options.end());
        const test::TProcessResult result = test::RunProcess(argv);
        EXPECT_EQ(result.ExitCode, 2) << options.front();
        EXPECT_NE(result.Err.find("Aufruf: tarnwick-cli screen"), std::string::npos);
    }

    const test::TProcessResult missing =
        test::RunProcess({TARNWICK_CLI_PATH, "screen", "/nonexistent/capture.log"});
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_EQ(missing.Err, "Datei \"/nonexistent/capture.log\" nicht gefunden!\n");
}

}  // namespace
}  // namespace tarnwick
