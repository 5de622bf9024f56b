// The terminal core fed real byte streams. Where libvterm and this terminal agree
// (text, CR/LF/BS/TAB, cursor moves, erase, scrolling, wrap) libvterm judges the
// screen; where this terminal has rules of its own they are checked directly.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "terminal/com_terminal_core.h"
#include "vterm_judge.h"

namespace tarnwick {
namespace {

using test::TVtermJudge;

std::vector<std::string> Screen(const TComTerminalCore& Terminal) {
    std::vector<std::string> rows;
    for (int y = 1; y <= Terminal.Rows(); ++y)
        rows.push_back(Terminal.ScreenBuffer().RowText(y));
    return rows;
}

struct TJudgedCase {
    const char* Name;
    std::string Stream;
    int Columns = 80;
    int Rows = 24;
    bool Wrap = false;
    bool SameCaret = true;  // false where only the caret rule differs
};

void PrintTo(const TJudgedCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class AgreesWithVterm : public testing::TestWithParam<TJudgedCase> {};

TEST_P(AgreesWithVterm, OnTheScreen) {
    const TJudgedCase& c = GetParam();
    TComTerminalCore terminal;
    terminal.SetColumns(c.Columns);
    terminal.SetRows(c.Rows);
    terminal.SetWrapLines(c.Wrap);
    TVtermJudge judge(c.Columns, c.Rows, c.Wrap);
    terminal.RenderText(c.Stream);
    judge.Write(c.Stream);
    EXPECT_EQ(Screen(terminal), judge.Screen());
    if (c.SameCaret) {
        EXPECT_EQ(terminal.CaretCol(), judge.CaretColumn());
        EXPECT_EQ(terminal.CaretRow(), judge.CaretRow());
    }
}

std::string Lines(int Count) {
    std::string text;
    for (int i = 1; i <= Count; ++i)
        text += "line " + std::to_string(i) + "\r\n";
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, AgreesWithVterm,
    testing::Values(
        TJudgedCase{"PlainText", "Hello, world"},
        TJudgedCase{"CrLf", "line one\r\nline two\r\n  three"},
        TJudgedCase{"LineFeedKeepsColumn", "abc\ndef\fghi"}, TJudgedCase{"Backspace", "abcd\b\bXY"},
        TJudgedCase{"BackspaceAtColumnOne", "\b\b\bA\r\b\bB"},
        TJudgedCase{"Tabs", "a\tb\tc\r\n\tx\t\ty"},
        TJudgedCase{"CursorMoves", "\x1b[5;10Hx\x1b[2Ay\x1b[3Bz\x1b[4Dw\x1b[6Cv\x1b[Au"},
        TJudgedCase{"CursorMovesPastEveryEdge",
                    "\x1b[99;200Hx\x1b[999Ay\x1b[999Dz\x1b[999Bw\x1b[999Cv"},
        TJudgedCase{"HomeAndMove", "abc\x1b[Hx\x1b[7fy\x1b[3;4Hz\x1b[;H"},
        TJudgedCase{"EraseLineFrom", "Hello world\r\nsecond\x1b[1;6H\x1b[K\x1b[2;3H\x1b[0K"},
        TJudgedCase{"EraseScreenFrom", Lines(4) + "\x1b[2;3H\x1b[J"},
        TJudgedCase{"EraseScreenFromStart", Lines(4) + "\x1b[0J"},
        TJudgedCase{"EraseLine", "Hello\r\nworld\x1b[2K", 80, 24, false, false},
        TJudgedCase{"EraseScreen", Lines(3) + "xyz\x1b[2J", 80, 24, false, false},
        TJudgedCase{"ScrollsUpAtTheBottom", Lines(30) + "last"},
        TJudgedCase{"OverwritesTheLastColumnWithoutWrap", std::string(85, 'x') + "YZ\r\nnext"},
        TJudgedCase{"WrapsAndScrolls", "\x1b[24;1H" + std::string(100, 'w') + "!", 80, 24, true},
        TJudgedCase{"WrapsOnASmallGrid", "0123456789abcdefghijKLMNOPQRSTuvw", 10, 3, true},
        TJudgedCase{"ColoursAndAttributesLeaveTheText",
                    "\x1b[1;32mOK\x1b[0m done \x1b[7mrev\x1b[m"},
        TJudgedCase{"CursorVisibilityIsIgnored", "A\x1b[?25lB\x1b[?25hC"},
        TJudgedCase{"SplitSequences",
                    "ab\x1b[2;"
                    "5Hcd\x1b"
                    "[Ke"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// Random mixtures of the sequences both terminals read alike; the screen and the
// caret must agree after every piece.
TEST(AgreesWithVterm, OnRandomMixtures) {
    std::mt19937 random(20260108);
    const auto pick = [&](int Low, int High) {
        return std::uniform_int_distribution<int>(Low, High)(random);
    };
    const std::vector<std::string> words = {"alpha", "Beta ", "x", "1234567890", "  -- ", "~!@#"};
    for (int round = 0; round < 20; ++round) {
        const int columns = pick(2, 100);
        const int rows = pick(2, 30);
        TComTerminalCore terminal;
        terminal.SetColumns(columns);
        terminal.SetRows(rows);
        TVtermJudge judge(columns, rows, false);
        for (int piece = 0; piece < 300; ++piece) {
            std::string text;
            switch (pick(0, 9)) {
                case 0:
                    text = "\r\n";
                    break;
                case 1:
                    text = "\b";
                    break;
                case 2:
                    text = "\x1b[" + std::to_string(pick(1, 40)) + "ABCD"[pick(0, 3)];
                    break;
                case 3:
                    text = "\x1b[" + std::to_string(pick(1, 40)) + ";" +
                           std::to_string(pick(1, 120)) + "Hf"[pick(0, 1)];
                    break;
                case 4:
                    text = pick(0, 1) ? "\x1b[K" : "\x1b[J";
                    break;
                case 5:
                    text = "\n";
                    break;
                default:
                    text = words[static_cast<std::size_t>(pick(0, 5))];
                    break;
            }
            terminal.RenderText(text);
            judge.Write(text);
            ASSERT_EQ(Screen(terminal), judge.Screen()) << "round " << round << " piece " << piece;
            ASSERT_EQ(terminal.CaretCol(), judge.CaretColumn()) << round << "/" << piece;
            ASSERT_EQ(terminal.CaretRow(), judge.CaretRow()) << round << "/" << piece;
        }
    }
}

// ------------------------------------------------- where this terminal has its own rules

struct TOwnRuleCase {
    const char* Name;
    std::string Stream;
    bool Wrap;
    std::string Row1;  // first row, trailing blanks removed
    int CaretCol;
    int CaretRow;
};

void PrintTo(const TOwnRuleCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class OwnRules : public testing::TestWithParam<TOwnRuleCase> {};

TEST_P(OwnRules, GiveTheirScreenAndCaret) {
    const TOwnRuleCase& c = GetParam();
    TComTerminalCore terminal;
    terminal.SetColumns(10);
    terminal.SetRows(4);
    terminal.SetWrapLines(c.Wrap);
    terminal.RenderText(c.Stream);
    std::string row1 = terminal.ScreenBuffer().RowText(1);
    row1.erase(row1.find_last_not_of(' ') + 1);
    EXPECT_EQ(row1, c.Row1);
    EXPECT_EQ(terminal.CaretCol(), c.CaretCol);
    EXPECT_EQ(terminal.CaretRow(), c.CaretRow);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OwnRules,
    testing::Values(
        // The caret moves on at once after the last column (no deferred wrap).
        TOwnRuleCase{"WrapIsImmediate", "0123456789", true, "0123456789", 1, 2},
        TOwnRuleCase{"CarriageReturnAfterAWrapStaysOnTheNewRow", "0123456789\rX", true,
                     "0123456789", 2, 2},
        TOwnRuleCase{"WithoutWrapTheLastColumnIsOverwritten", "0123456789AB", false, "012345678B",
                     10, 1},
        TOwnRuleCase{"EraseScreenMovesTheCaretHome", "abc\x1b[3;4H\x1b[2J", false, "", 1, 1},
        TOwnRuleCase{"EraseLineMovesToColumnOne", "abc\x1b[2K", false, "", 1, 1},
        TOwnRuleCase{"AnEmptyFirstParameterSwallowsTheSecond", "\x1b[;5Hx", false, "x", 2, 1},
        TOwnRuleCase{"ZeroMovesNothing", "\x1b[3;3H\x1b[0A\x1b[0C", false, "", 3, 3},
        TOwnRuleCase{"NoTabStopLeftMeansNoMove", "\x1b[1;9H\tx", false, "        x", 10, 1},
        TOwnRuleCase{"EraseToStartIsNotActedOn", "abcdef\x1b[1;3H\x1b[1K", false, "abcdef", 3, 1},
        TOwnRuleCase{"SetAndClearTabStops", "\x1b[3g\x1b[1;4H\x1bH\r\tA\x1b[1;4H\x1b[g\r\tB", false,
                     "B  A", 2, 1},
        TOwnRuleCase{"ModeSevenSwitchesWrapOn", "\x1b[7h0123456789", false, "0123456789", 1, 2},
        TOwnRuleCase{"SaveAndRestoreTheCaret",
                     "ab\x1b[s\x1b[3;3H\x1b[uc\x1b"
                     "7\x1b[4;4H\x1b"
                     "8d",
                     false, "abcd", 5, 1},
        TOwnRuleCase{"RestoreBeforeAnySaveLandsHome",
                     "\x1b[3;3H\x1b[uA\x1b"
                     "8B",
                     false, "B", 2, 1},
        TOwnRuleCase{"AlignmentTestFillsWithE", "\x1b#8", false, "EEEEEEEEEE", 1, 1}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(TerminalCore, Vt52MovesScrollsDownAndKeepsWildPositionsInTheGrid) {
    TComTerminalCore terminal;
    terminal.SetEmulation(teVT52);
    terminal.SetColumns(10);
    terminal.SetRows(3);
    terminal.RenderText("top\x1bY!$x");  // row 2, column 5
    EXPECT_EQ(terminal.ScreenBuffer().RowText(2), "    x     ");
    terminal.RenderText("\x1bH\x1bI");  // reverse line feed on row 1 scrolls down
    EXPECT_EQ(terminal.ScreenBuffer().RowText(1), std::string(10, ' '));
    EXPECT_EQ(terminal.ScreenBuffer().RowText(2), "top       ");
    terminal.RenderText(std::string("\x1bY") + '\x01' + '\x7f');  // row -30, column 96
    EXPECT_EQ(terminal.CaretRow(), 1);
    EXPECT_EQ(terminal.CaretCol(), 10);
    terminal.RenderText("\x1b[2J");  // VT100 text is plain in VT52: ESC [ is unknown
    EXPECT_EQ(terminal.ScreenBuffer().RowText(1), "         J");
}

TEST(TerminalCore, ShrinkingTheGridKeepsTheCaretAndSavedPositionInside) {
    TComTerminalCore terminal;
    terminal.RenderText("\x1b[24;80H\x1b[s");
    terminal.SetColumns(10);
    terminal.SetRows(5);
    EXPECT_EQ(terminal.CaretCol(), 10);
    EXPECT_EQ(terminal.CaretRow(), 5);
    terminal.RenderText("\x1b[uAB\x1b[6n");
    EXPECT_EQ(terminal.ScreenBuffer().RowText(5), "         B");
    terminal.SetColumns(300);
    terminal.SetRows(1);
    EXPECT_EQ(terminal.Columns(), 256);
    EXPECT_EQ(terminal.Rows(), 2);
    terminal.SetColumns(-5);
    terminal.SetRows(1000);
    EXPECT_EQ(terminal.Columns(), 2);
    EXPECT_EQ(terminal.Rows(), 100);
}

TEST(TerminalCore, ModesSwitchCursorKeysAndTheWidth) {
    TComTerminalCore terminal;
    terminal.RenderText("\x1b[?1h");
    EXPECT_TRUE(terminal.AppCursorKeys());
    terminal.RenderText("\x1b[?1l\x1b[?3h");
    EXPECT_FALSE(terminal.AppCursorKeys());
    EXPECT_EQ(terminal.Columns(), 132);
    terminal.RenderText("\x1b[?3l");
    EXPECT_EQ(terminal.Columns(), 80);
}

TEST(TerminalCore, ChunksLongerThan1024BytesAreShownWhole) {
    TComTerminalCore terminal;
    TComPort port;  // never opened: the chunk comes as the link would hand it over
    std::string chunk;
    for (int i = 1; i <= 40; ++i)
        chunk += std::string(70, static_cast<char>('A' + i % 26)) + "\r\n";
    ASSERT_GT(chunk.size(), 1024U);
    terminal.TakeLinkData(port, reinterpret_cast<const std::uint8_t*>(chunk.data()),
                          static_cast<int>(chunk.size()));
    EXPECT_EQ(terminal.ScreenBuffer().RowText(23).substr(0, 3), "OOO");  // line 40
    EXPECT_EQ(terminal.CaretRow(), 24);
}

TEST(TerminalCore, AppendLfAndForce7BitShapeReceivedBytes) {
    TComTerminalCore terminal;
    TComPort port;
    terminal.SetAppendLF(true);
    const std::uint8_t bytes[] = {'A', '\r', 'B', 0xC3, 0x8D, 'C'};
    terminal.TakeLinkData(port, bytes, 6);
    EXPECT_EQ(terminal.ScreenBuffer().RowText(1).substr(0, 1), "A");
    EXPECT_EQ(terminal.ScreenBuffer().RowText(2).substr(0, 3), "B\xC3\x8D");

    terminal.SetForce7Bit(true);
    terminal.TakeLinkData(port, bytes + 3, 3);  // 0xC3 -> 'C', 0x8D -> CR without an LF
    EXPECT_EQ(terminal.ScreenBuffer().RowText(2).substr(0, 5),
              "C\xC3\x8D"
              "CC");
    EXPECT_EQ(terminal.CaretRow(), 2);
}

struct TAttrCase {
    const char* Sequence;
    TColor Text;
    TColor Fill;
    bool Underlined;
};

TEST(TerminalCore, AttributesGiveTheCellsTheirColours) {
    const TColor font = 0xFFFFFF, back = 0x000000, alt = 0xA6A6A6;
    const TAttrCase cases[] = {
        {"", font, back, false},
        {"\x1b[1m", alt, back, false},
        {"\x1b[7m", back, font, false},
        {"\x1b[1;7m", alt, font, false},
        {"\x1b[4m", font, back, true},
        {"\x1b[1;4;7m\x1b[21;24;27m", font, back, false},
        {"\x1b[1;4;7m\x1b[m", font, back, false},
        {"\x1b[1;4;7m\x1b[0m", font, back, false},
        {"\x1b[7;31;42m", back, font, false},
        {"\x1b[1;4;7m\x1b"
         "c",
         font, back, false},
        {"\x1b[4;7m\x1b"
         "7\x1b[0m\x1b"
         "8",
         back, font, true},
    };
    for (const TAttrCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.Sequence)));
        TComTerminalCore terminal;
        terminal.RenderText(std::string(c.Sequence) + "x");
        const TTermCell& cell = terminal.ScreenBuffer().Cell(1, 1);
        EXPECT_EQ(cell.Glyph, 'x');
        EXPECT_EQ(cell.TextColor, c.Text);
        EXPECT_EQ(cell.FillColor, c.Fill);
        EXPECT_EQ(cell.Underlined, c.Underlined);
    }
}

TEST(TerminalCore, RestoringBeforeAnySaveKeepsTheColoursOfTheControl) {
    TComTerminalCore terminal;
    terminal.SetFontColor(0x00FF00);
    terminal.SetColor(0x000080);
    terminal.RenderText(
        "\x1b[1m\x1b"
        "8x");
    const TTermCell& cell = terminal.ScreenBuffer().Cell(1, 1);
    EXPECT_EQ(cell.TextColor, 0x00FF00U);
    EXPECT_EQ(cell.FillColor, 0x000080U);
}

TEST(TerminalCore, WithoutEmulationSequencesAreShownCharacterByCharacter) {
    TComTerminalCore terminal;
    terminal.SetEmulation(teNone);
    EXPECT_EQ(terminal.EscapeCodes(), nullptr);
    terminal.RenderText("\x1b[2Jok");
    EXPECT_EQ(terminal.ScreenBuffer().RowText(1).substr(0, 6), "[2Jok ");

    // A handler may supply a parser, which the terminal then uses.
    terminal.OnGetEscapeCodes = [](TComTerminalCore&, std::unique_ptr<TEscapeCodes>& Codes) {
        Codes = std::make_unique<TEscapeCodesVT52>();
    };
    terminal.SetEmulation(teNone);
    terminal.RenderText("\x1bHX");
    EXPECT_EQ(terminal.ScreenBuffer().RowText(1).substr(0, 6), "X2Jok ");
}

TEST(TerminalCore, EventsSeeTextCharactersAndUnhandledCodes) {
    TComTerminalCore terminal;
    TComPort port;
    std::string chars;
    std::vector<std::string> unhandled;
    terminal.OnStrRecieved = [](TComTerminalCore&, std::string& Str) {
        if (Str == "secret")
            Str = "******";
    };
    terminal.OnChar = [&](TComTerminalCore&, std::uint8_t Ch) { chars += static_cast<char>(Ch); };
    terminal.OnUnhandledCode = [&](TComTerminalCore& Sender, TEscapeCode Code,
                                   const std::string& Data) {
        EXPECT_EQ(&Sender, &terminal);
        unhandled.push_back(std::string(EscapeCodeName(Code)) + " " + Data);
        // A handler that switches the emulation does not upset the rest of the chunk.
        Sender.SetEmulation(teVT52);
    };
    const std::string text = "secret";
    terminal.TakeLinkData(port, reinterpret_cast<const std::uint8_t*>(text.data()), 6);
    terminal.RenderText("a\x1b[1Kb\x1bHd");
    EXPECT_EQ(terminal.ScreenBuffer().RowText(1).substr(0, 9), "d*****ab ");
    EXPECT_EQ(chars, "******abd");
    EXPECT_EQ(unhandled, (std::vector<std::string>{"ecUnknown [1K"}));
}

}  // namespace
}  // namespace tarnwick
