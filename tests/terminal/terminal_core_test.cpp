// The terminal core fed real byte streams. Where libvterm and this terminal agree
// (text, CR/LF/BS/TAB, cursor moves, erase, scrolling, wrap) libvterm judges the
// screen; where this terminal has rules of its own they are checked directly.
#include <gtest/gtest.h>

#include <algorithm>
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

// The rows without trailing blanks, joined by "|", without empty rows at the end.
std::string Shown(const TComTerminalCore& Terminal) {
    std::string text;
    for (std::string row : Screen(Terminal))
        text += row.erase(row.find_last_not_of(' ') + 1) + '|';
    return text.erase(text.find_last_not_of('|') + 1);
}

struct TScreenCase {
    const char* Name;
    std::string Stream;
    const char* Expected = nullptr;  // as Shown gives it; nullptr: libvterm's screen
    int Col = 0;                     // the caret; 0: libvterm's
    int Row = 0;
    int Columns = 80;
    int Rows = 24;
    bool Wrap = false;
    TTermEmulation Emulation = teVT100orANSI;
};

TEST(TerminalCore, ShowsStreamsAsLibvtermDoesOrByItsOwnRules) {
    const TScreenCase cases[] = {
        {"LineFeedKeepsColumn", "abc\ndef\fghi"},
        {"Tabs", "a\tb\tc\r\n\tx\t\ty"},
        {"CursorMovesStopAtTheEdges",
         "\x1b[5;10Hx\x1b[2Ay\x1b[3Bz\x1b[4Dw\x1b[6Cv\x1b[Au"
         "\x1b[99;200Hx\x1b[999Ay\x1b[999Dz\x1b[999Bw\x1b[999Cv"},
        {"HomeAndMove", "abc\x1b[Hx\x1b[7fy\x1b[3;4Hz\x1b[;H"},
        {"EraseLineFrom", "Hello world\r\nsecond\x1b[1;6H\x1b[K\x1b[2;3H\x1b[0K"},
        {"EraseScreenFrom", "line 1\r\nline 2\r\nline 3\r\nline 4\x1b[2;3H\x1b[0J"},
        {"EraseLineMovesToColumnOne", "Hello\r\nworld\x1b[2K", nullptr, 1, 2},
        {"EraseScreenMovesTheCaretHome", "a\r\nb\r\nxyz\x1b[2J", nullptr, 1, 1},
        {"WrapsAndScrolls", "0123456789abcdefghijKLMNOPQRSTuvw", nullptr, 0, 0, 10, 3, true},
        {"AttributesAndCursorVisibilityLeaveTheText",
         "\x1b[1;32mOK\x1b[0m done \x1b[7mrev\x1b[m\x1b[?25lB\x1b[?25hC"},
        // Own rules, on 10 x 4 cells. The caret moves on at once after the last column.
        {"CarriageReturnAfterAWrap", "0123456789\rX", "0123456789|X", 2, 2, 10, 4, true},
        {"ModeSevenSwitchesWrapOn", "\x1b[7h0123456789", "0123456789", 1, 2, 10, 4},
        {"AnEmptyFirstParameterSwallowsTheSecond", "\x1b[;5Hx", "x", 2, 1, 10, 4},
        {"ZeroMovesNothing", "\x1b[3;3H\x1b[0A\x1b[0C", "", 3, 3, 10, 4},
        {"OverflowingCountsStopAtTheEdges", "\x1b[2;2H\x1b[-2147483648D\x1b[2147483647Bx",
         "|||         x", 10, 4, 10, 4},
        {"NoTabStopLeftMeansNoMove", "\x1b[1;9H\tx", "        x", 10, 1, 10, 4},
        {"EraseToStartIsNotActedOn", "abcdef\x1b[1;3H\x1b[1K", "abcdef", 3, 1, 10, 4},
        {"SetAndClearTabStops", "\x1b[3g\x1b[1;4H\x1bH\r\tA\x1b[1;4H\x1b[g\r\tB", "B  A", 2, 1, 10,
         4},
        // A restore before any save lands home.
        {"SaveAndRestoreTheCaret",
         "\x1b[3;3H\x1b[uA\0338B\x1b[s\x1b[3;3H\x1b[uc\0337\x1b[4;4H\0338d", "Bcd", 4, 1, 10, 4},
        {"AlignmentTestFillsWithE", "\x1b#8", "EEEEEEEEEE|EEEEEEEEEE|EEEEEEEEEE|EEEEEEEEEE", 1, 1,
         10, 4},
        // ESC I on row 1 scrolls down; a wild ESC Y stays in the grid; ESC [ is unknown.
        {"Vt52", "top\x1bY!$x\x1bH\x1bI\x1bY\x01\x7f\x1b[2J", "         J|top|    x", 10, 1, 10, 3,
         false, teVT52},
    };
    for (const TScreenCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TComTerminalCore terminal;
        terminal.SetEmulation(c.Emulation);
        terminal.SetColumns(c.Columns);
        terminal.SetRows(c.Rows);
        terminal.SetWrapLines(c.Wrap);
        for (const char ch : c.Stream)  // a byte at a time: sequences split everywhere
            terminal.RenderText(std::string(1, ch));
        TVtermJudge judge(c.Columns, c.Rows, c.Wrap);
        judge.Write(c.Stream);
        if (c.Expected == nullptr)
            EXPECT_EQ(Screen(terminal), judge.Screen());
        else
            EXPECT_EQ(Shown(terminal), c.Expected);
        EXPECT_EQ(terminal.CaretCol(), c.Col != 0 ? c.Col : judge.CaretColumn());
        EXPECT_EQ(terminal.CaretRow(), c.Row != 0 ? c.Row : judge.CaretRow());
    }
}

// Random mixtures of the sequences both terminals read alike; the screen and the
// caret must agree after every piece.
TEST(TerminalCore, AgreesWithVtermOnRandomMixtures) {
    std::mt19937 random(20260108);
    const auto pick = [&](int Low, int High) {
        return std::uniform_int_distribution<int>(Low, High)(random);
    };
    const std::string words[] = {"alpha", "Beta ", "x", "1234567890", "  -- ", "~!@#"};
    for (int round = 0; round < 20; ++round) {
        const int columns = pick(2, 100);
        const int rows = pick(2, 30);
        TComTerminalCore terminal;
        terminal.SetColumns(columns);
        terminal.SetRows(rows);
        TVtermJudge judge(columns, rows, false);
        for (int piece = 0; piece < 300; ++piece) {
            const std::string n = std::to_string(pick(1, 40));
            const std::string pieces[] = {
                "\r\n",
                "\b",
                "\n",
                pick(0, 1) ? "\x1b[K" : "\x1b[J",
                "\x1b[" + n + "ABCD"[pick(0, 3)],
                "\x1b[" + n + ";" + std::to_string(pick(1, 120)) + "Hf"[pick(0, 1)],
                words[pick(0, 5)],
            };
            const std::string& text = pieces[std::min(pick(0, 9), 6)];  // words 4 times in 10
            terminal.RenderText(text);
            judge.Write(text);
            ASSERT_EQ(Screen(terminal), judge.Screen()) << "round " << round << " piece " << piece;
            ASSERT_EQ(terminal.CaretCol(), judge.CaretColumn()) << round << "/" << piece;
            ASSERT_EQ(terminal.CaretRow(), judge.CaretRow()) << round << "/" << piece;
        }
    }
}

TEST(TerminalCore, ResizingKeepsTheCaretAndSavedPositionInsideTheGrid) {
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
    terminal.RenderText("\x1b[?3h");  // 132 columns, and back to 80
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

TEST(TerminalCore, AttributesGiveTheCellsTheirColours) {
    const TColor font = 0x00FF00, back = 0x000080, alt = 0xA6A6A6;
    const struct {
        const char* Sequence;
        TColor Text;
        TColor Fill;
        bool Underlined;
    } cases[] = {{"", font, back, false},
                 {"\x1b[1m", alt, back, false},
                 {"\x1b[7m", back, font, false},
                 {"\x1b[1;7m", alt, font, false},
                 {"\x1b[4m", font, back, true},
                 {"\x1b[1;4;7m\x1b[21;24;27m", font, back, false},
                 {"\x1b[1;4;7m\x1b[m", font, back, false},
                 {"\x1b[1;4;7m\x1b[0m", font, back, false},
                 {"\x1b[7;31;42m", back, font, false},
                 {"\x1b[1;4;7m\033c", font, back, false},
                 {"\x1b[4;7m\0337\x1b[0m\0338", back, font, true},
                 // A restore before any save gives the control's colours.
                 {"\x1b[1m\0338", font, back, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.Sequence)));
        TComTerminalCore terminal;
        terminal.SetFontColor(font);
        terminal.SetColor(back);
        terminal.RenderText(std::string(c.Sequence) + "x");
        const TTermCell& cell = terminal.ScreenBuffer().Cell(1, 1);
        EXPECT_EQ(cell.Glyph, 'x');
        EXPECT_EQ(cell.TextColor, c.Text);
        EXPECT_EQ(cell.FillColor, c.Fill);
        EXPECT_EQ(cell.Underlined, c.Underlined);
    }
}

TEST(TerminalCore, EventsSeeTextCharactersAndUnhandledCodesAndMaySupplyTheParser) {
    TComTerminalCore terminal;
    TComPort port;
    std::string chars;
    std::vector<std::string> unhandled;
    terminal.OnStrRecieved = [](TComTerminalCore&, std::string& Str) {
        if (Str == "secret")
            Str = "******";
    };
    terminal.OnChar = [&](TComTerminalCore&, std::uint8_t Ch) { chars += static_cast<char>(Ch); };
    // Without an emulation a handler may supply a parser, which the terminal then uses.
    terminal.OnGetEscapeCodes = [](TComTerminalCore&, std::unique_ptr<TEscapeCodes>& Codes) {
        Codes = std::make_unique<TEscapeCodesVT52>();
    };
    terminal.OnUnhandledCode = [&](TComTerminalCore& Sender, TEscapeCode Code,
                                   const std::string& Data) {
        EXPECT_EQ(&Sender, &terminal);
        unhandled.push_back(std::string(EscapeCodeName(Code)) + " " + Data);
        // A handler that switches the emulation does not upset the rest of the chunk.
        Sender.SetEmulation(teNone);
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
