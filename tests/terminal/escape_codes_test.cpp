// The parsers fed sequence by sequence: every code they send reads back as that code,
// the sequences no code stands for, the parameter splitting and ParamValue. What the
// terminal does with the codes is judged in terminal_core_test.cpp.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

#include "terminal/escape_codes.h"

namespace tarnwick {
namespace {

// Feeds Text (ESC and the rest) to a new parser: pending until the last character,
// which completes Code; the next characters, controls too, are plain again. Gives the
// parameters.
template <class TParser>
TParamList ExpectCompletes(const std::string& Text, TEscapeCode Code) {
    SCOPED_TRACE(testing::PrintToString(Text));
    TParser parser;
    for (std::size_t i = 0; i + 1 < Text.size(); ++i)
        EXPECT_EQ(parser.FeedChar(static_cast<std::uint8_t>(Text[i])), psPending) << i;
    EXPECT_EQ(parser.FeedChar(static_cast<std::uint8_t>(Text.back())), psCode);
    EXPECT_STREQ(EscapeCodeName(parser.LastCode), EscapeCodeName(Code));
    EXPECT_EQ(parser.SeqText, Text.substr(1));
    for (const std::uint8_t c : {0x78, 0x00, 0x07, 0x0D, 0x9B, 0xFF}) {  // 'x', controls, 8 bit
        EXPECT_EQ(parser.FeedChar(c), psChar);
        EXPECT_EQ(parser.PlainChar, c);
    }
    EXPECT_FALSE(parser.InEscape);
    if constexpr (std::is_same_v<TParser, TEscapeCodesVT100>) {
        EXPECT_FALSE(parser.InCsi);
    }
    return parser.ParamList;
}

// How many codes TParser can send; each text reads back as its code.
template <class TParser>
int ReadBackEveryCode() {
    int sendable = 0;
    for (int i = 0; i < EscapeCodeCount; ++i) {
        const auto code = static_cast<TEscapeCode>(i);
        const std::string text = TParser().CodeToText(code, {"12", "40"});
        if (text.empty())
            continue;
        ++sendable;
        const TParamList params = ExpectCompletes<TParser>(text, code);
        if (code == ecCursorMove || code == ecReportCursorPos) {
            EXPECT_EQ(params, (TParamList{"12", "40"})) << EscapeCodeName(code);
        }
    }
    return sendable;
}

TEST(Parsers, EveryCodeTheySendReadsBackAsThatCode) {
    EXPECT_EQ(ReadBackEveryCode<TEscapeCodesVT52>(), 11);
    EXPECT_EQ(ReadBackEveryCode<TEscapeCodesVT100>(), 33);
    EXPECT_EQ(TEscapeCodesVT100().CodeToText(ecReportCursorPos, {}), "\x1b[1;1R");
}

// What each kind sends for every code, written out by hand from the terminals' code tables
// (not from the parsers' own table, which a wrong entry would pass unseen), with the
// parameters 12 and 40; empty where a kind cannot send the code.
TEST(Parsers, SendTheSequencesOfTheCodeTables) {
    const struct {
        TEscapeCode Code;
        std::string Vt52;
        std::string Vt100;
    } cases[] = {
        {ecUnknown, "", ""},
        {ecNotCompleted, "", ""},
        {ecCursorUp,
         "\x1b"
         "A",
         "\x1b[A"},
        {ecCursorDown,
         "\x1b"
         "B",
         "\x1b[B"},
        {ecCursorLeft,
         "\x1b"
         "D",
         "\x1b[D"},
        {ecCursorRight,
         "\x1b"
         "C",
         "\x1b[C"},
        {ecCursorHome,
         "\x1b"
         "H",
         "\x1b[H"},
        {ecCursorMove, "\x1bY+G", "\x1b[12;40f"},  // 12 + 31 is '+', 40 + 31 is 'G'
        {ecReverseLineFeed, "\x1bI", ""},
        {ecAppCursorLeft, "", "\x1bOD"},
        {ecAppCursorRight, "", "\x1bOC"},
        {ecAppCursorUp, "", "\x1bOA"},
        {ecAppCursorDown, "", "\x1bOB"},
        {ecEraseLineFrom, "\x1bK", "\x1b[K"},
        {ecEraseScreenFrom, "\x1bJ", "\x1b[J"},
        {ecEraseLine, "", "\x1b[2K"},
        {ecEraseScreen, "", "\x1b[2J"},
        {ecSetTab, "", "\x1bH"},
        {ecClearTab, "", "\x1b[g"},
        {ecClearAllTabs, "", "\x1b[3g"},
        {ecIdentify, "\x1bZ", "\x1b[c"},
        {ecIdentResponse, "\x1b/Z", "\x1b[?1;12c"},
        {ecQueryDevice, "", "\x1b[5n"},
        {ecReportDeviceOK, "", "\x1b[0n"},
        {ecReportDeviceFailure, "", "\x1b[3n"},
        {ecQueryCursorPos, "", "\x1b[6n"},
        {ecReportCursorPos, "", "\x1b[12;40R"},
        {ecAttributes, "", "\x1b[m"},
        {ecSetMode, "", "\x1b[h"},
        {ecResetMode, "", "\x1b[l"},
        {ecReset, "",
         "\x1b"
         "c"},
        {ecSaveCaretAndAttr, "",
         "\x1b"
         "7"},
        {ecRestoreCaretAndAttr, "",
         "\x1b"
         "8"},
        {ecSaveCaret, "", "\x1b[s"},
        {ecRestoreCaret, "", "\x1b[u"},
        {ecTest, "", "\x1b#8"},
    };
    static_assert(std::size(cases) == EscapeCodeCount);
    for (const auto& c : cases) {
        SCOPED_TRACE(EscapeCodeName(c.Code));
        EXPECT_EQ(TEscapeCodesVT52().CodeToText(c.Code, {"12", "40"}), c.Vt52);
        EXPECT_EQ(TEscapeCodesVT100().CodeToText(c.Code, {"12", "40"}), c.Vt100);
    }
}

// What each kind recognises, written out by hand from the same tables: every sequence
// after ESC, the code it completes as and, where a code carries them, its parameters.
TEST(Parsers, RecogniseTheSequencesOfTheCodeTables) {
    struct TRow {
        std::string Sequence;  // after ESC
        TEscapeCode Code;
        TParamList Params = {};
    };
    const TRow vt52[] = {
        {"A", ecCursorUp},
        {"B", ecCursorDown},
        {"C", ecCursorRight},
        {"D", ecCursorLeft},
        {"H", ecCursorHome},
        {"I", ecReverseLineFeed},
        {"J", ecEraseScreenFrom},
        {"K", ecEraseLineFrom},
        {"Y,?", ecCursorMove, {"13", "32"}},  // codes 44 and 63, less 31
        {"Z", ecIdentify},
        {"/Z", ecIdentResponse},
    };
    const TRow vt100[] = {
        {"7", ecSaveCaretAndAttr},
        {"8", ecRestoreCaretAndAttr},
        {"H", ecSetTab},
        {"c", ecReset},
        {"#8", ecTest},
        {"OA", ecAppCursorUp},
        {"OB", ecAppCursorDown},
        {"OC", ecAppCursorRight},
        {"OD", ecAppCursorLeft},
        {"[A", ecCursorUp},
        {"[3B", ecCursorDown, {"3"}},
        {"[C", ecCursorRight},
        {"[D", ecCursorLeft},
        {"[12;40H", ecCursorHome, {"12", "40"}},
        {"[12;40f", ecCursorMove, {"12", "40"}},
        {"[J", ecEraseScreenFrom},
        {"[0J", ecEraseScreenFrom},
        {"[2J", ecEraseScreen},
        {"[K", ecEraseLineFrom},
        {"[0K", ecEraseLineFrom},
        {"[2K", ecEraseLine},
        {"[g", ecClearTab},
        {"[3g", ecClearAllTabs},
        {"[c", ecIdentify},
        {"[?1;2c", ecIdentResponse, {"?1", "2"}},
        {"[5n", ecQueryDevice},
        {"[0n", ecReportDeviceOK},
        {"[3n", ecReportDeviceFailure},
        {"[6n", ecQueryCursorPos},
        {"[12;40R", ecReportCursorPos, {"12", "40"}},
        {"[1;4m", ecAttributes, {"1", "4"}},
        {"[20h", ecSetMode, {"20"}},
        {"[20l", ecResetMode, {"20"}},
        {"[s", ecSaveCaret},
        {"[u", ecRestoreCaret},
    };
    for (const TRow& row : vt52) {
        EXPECT_EQ(ExpectCompletes<TEscapeCodesVT52>("\x1b" + row.Sequence, row.Code), row.Params)
            << testing::PrintToString(row.Sequence);
    }
    for (const TRow& row : vt100) {
        EXPECT_EQ(ExpectCompletes<TEscapeCodesVT100>("\x1b" + row.Sequence, row.Code), row.Params)
            << testing::PrintToString(row.Sequence);
    }
}

TEST(Parsers, SequencesNoCodeStandsForCompleteAsUnknown) {
    for (const char* rest : {"/x", "q"})
        ExpectCompletes<TEscapeCodesVT52>(std::string("\x1b") + rest, ecUnknown);
    for (const char* rest : {"#3", "OP", "(", "[1J", "[2g", "[n", "[7n"})
        ExpectCompletes<TEscapeCodesVT100>(std::string("\x1b") + rest, ecUnknown);
}

TEST(Parsers, SplitTheParameters) {
    EXPECT_EQ(ExpectCompletes<TEscapeCodesVT52>("\x1bY  ", ecCursorMove), (TParamList{"1", "1"}));
    const struct {
        std::string Sequence;  // after ESC
        TEscapeCode Code;
        TParamList Params;
    } cases[] = {
        {"[0g", ecClearTab, {}},
        {"[0c", ecIdentify, {"0"}},
        {"[?1;2c", ecIdentResponse, {"?1", "2"}},
        {"[?6c", ecUnknown, {"?6"}},
        {"[4z", ecUnknown, {"4"}},
        // A ";" at the start of a parameter belongs to it.
        {"[;5H", ecCursorHome, {";5"}},
        {"[1;;2H", ecCursorHome, {"1", ";2"}},
        {"[4;m", ecAttributes, {"4"}},
        {"[1\r5A", ecCursorUp, {"1\r5"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExpectCompletes<TEscapeCodesVT100>("\x1b" + c.Sequence, c.Code), c.Params)
            << testing::PrintToString(c.Sequence);
    }
}

TEST(Vt100Parser, EndsASequenceAfter256Characters) {
    TEscapeCodesVT100 parser;
    const std::string text = "\x1b[" + std::string(1000, '1');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const TParseResult expected = i < 256 ? psPending : i == 256 ? psCode : psChar;
        ASSERT_EQ(parser.FeedChar(static_cast<std::uint8_t>(text[i])), expected) << i;
    }
    EXPECT_EQ(parser.LastCode, ecUnknown);
}

TEST(ParamValue, MissingOrNonDecimalParametersCountAsOne) {
    const TParamList params = {"12", "", "?1", ";5", "0", "-3", "99999999999", "7x"};
    const int expected[] = {12, 1, 1, 1, 0, -3, 1, 1};
    for (int i = 1; i <= 8; ++i)
        EXPECT_EQ(ParamValue(i, params), expected[i - 1]) << "parameter " << i;
    EXPECT_EQ(ParamValue(9, params), 1);
    EXPECT_EQ(ParamValue(0, params), 1);
    EXPECT_EQ(ParamValue(1, {}), 1);
}

}  // namespace
}  // namespace tarnwick
