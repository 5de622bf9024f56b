// tarnwick-cli screen, the real program on captured logs.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "temp_dir.h"

namespace tarnwick {
namespace {

// tarnwick-cli screen with Options (separated by blanks), then File.
test::TProcessResult Screen(const std::string& Options, const std::string& File) {
    std::vector<std::string> argv = {TARNWICK_CLI_PATH, "screen"};
    std::istringstream words(Options);
    for (std::string word; words >> word;)
        argv.push_back(word);
    argv.push_back(File);
    return test::RunProcess(argv);
}

TEST(ScreenCommand, PrintsTheFinalScreenAndCaret) {
    const struct {
        const char* Name;
        std::string Log;
        const char* Options;
        std::string Out;
    } cases[] = {
        {"BootLogWithColoursAndMoves",
         "Boot v1.2\r\n\x1b[1;32mOK\x1b[0m\r\n\x1b[4;6HHallo\x1b[2;1HX", "--rows 4 --columns 12",
         "Boot v1.2\nXK\n\n     Hallo\nSchreibmarke: 2;2\n"},
        {"Windows1252BecomesUtf8",
         "Gr\xfc\xdf"
         "e \x80 5\xb0",
         "--rows 2", "Grüße € 5°\n\nSchreibmarke: 1;11\n"},
        {"ScrolledAway", "1\r\n2\r\n3\r\n4", "--rows 2", "3\n4\nSchreibmarke: 2;2\n"},
        {"Wrap", "abcdefg", "--rows 2 --columns 4 --wrap", "abcd\nefg\nSchreibmarke: 2;4\n"},
        {"Vt52", "xx\x1bY\"#y\x1bHz", "--rows 4 --vt52", "zx\n\n   y\n\nSchreibmarke: 1;2\n"},
        {"NoEmulation", "a\x1b[2Jb", "--rows 2 --no-emulation", "a[2Jb\n\nSchreibmarke: 1;6\n"},
        // 0x8D becomes a carriage return without a line feed: the LF follows received CRs.
        {"AppendLfAndForce7Bit", "A\rB\xc3\x8dX", "--rows 3 --append-lf --force-7bit",
         "A\nXC\n\nSchreibmarke: 2;2\n"},
    };
    for (const auto& c : cases) {
        const test::TTempDir dir;
        const test::TProcessResult result = Screen(c.Options, dir.Write("capture.log", c.Log));
        EXPECT_EQ(result.ExitCode, 0) << c.Name << ": " << result.Err;
        EXPECT_EQ(result.Out, c.Out) << c.Name;
    }
}

TEST(ScreenCommand, ReadsStandardInputAndRefusesWrongOptions) {
    // Standard input is /dev/null here: an empty screen.
    const test::TProcessResult empty = Screen("--rows 2", "-");
    EXPECT_EQ(empty.ExitCode, 0);
    EXPECT_EQ(empty.Out, "\n\nSchreibmarke: 1;1\n");

    for (const char* options :
         {"--rows 1", "--columns 300", "--columns 8x", "--vt52 --no-emulation", "a.log"}) {
        const test::TProcessResult result = Screen(options, "b.log");
        EXPECT_EQ(result.ExitCode, 2) << options;
        EXPECT_NE(result.Err.find("Aufruf: tarnwick-cli screen"), std::string::npos) << options;
    }

    const test::TProcessResult missing = Screen("", "/nonexistent/capture.log");
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_EQ(missing.Err, "Datei \"/nonexistent/capture.log\" nicht gefunden!\n");
}

}  // namespace
}  // namespace tarnwick
