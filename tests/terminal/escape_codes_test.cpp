// The parsers, fed sequence by sequence: every row of both tables, the parameter
// splitting, ParamValue, and the text of every code they send.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "terminal/escape_codes.h"

namespace tarnwick {
namespace {

struct TParsed {
    std::vector<TParseResult> Results;  // one per character fed
    TEscapeCode Code = ecUnknown;
    TParamList Params;
};

TParsed Feed(TEscapeCodes& Parser, const std::string& Text) {
    TParsed parsed;
    for (const char c : Text)
        parsed.Results.push_back(Parser.FeedChar(static_cast<std::uint8_t>(c)));
    parsed.Code = Parser.LastCode;
    parsed.Params = Parser.ParamList;
    return parsed;
}

struct TSeqCase {
    const char* Name;
    std::string Sequence;  // after ESC
    TEscapeCode Code;
    TParamList Params;
};

void PrintTo(const TSeqCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

// Feeds ESC + Sequence: pending until the last character, which completes the code.
void ExpectCompletes(TEscapeCodes& Parser, const TSeqCase& Case) {
    const TParsed parsed = Feed(Parser, "\x1b" + Case.Sequence);
    ASSERT_EQ(parsed.Results.size(), Case.Sequence.size() + 1);
    for (std::size_t i = 0; i + 1 < parsed.Results.size(); ++i)
        EXPECT_EQ(parsed.Results[i], psPending) << "character " << i;
    EXPECT_EQ(parsed.Results.back(), psCode);
    EXPECT_EQ(EscapeCodeName(parsed.Code), std::string(EscapeCodeName(Case.Code)));
    EXPECT_EQ(parsed.Params, Case.Params);
    EXPECT_EQ(Parser.SeqText, Case.Sequence);
    // The next character is plain again.
    EXPECT_EQ(Parser.FeedChar('x'), psChar);
    EXPECT_EQ(Parser.PlainChar, 'x');
}

class Vt52Table : public testing::TestWithParam<TSeqCase> {};

TEST_P(Vt52Table, CompletesWithItsCode) {
    TEscapeCodesVT52 parser;
    ExpectCompletes(parser, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Vt52Table,
    testing::Values(TSeqCase{"Up", "A", ecCursorUp, {}}, TSeqCase{"Down", "B", ecCursorDown, {}},
                    TSeqCase{"Right", "C", ecCursorRight, {}},
                    TSeqCase{"Left", "D", ecCursorLeft, {}},
                    TSeqCase{"Home", "H", ecCursorHome, {}},
                    TSeqCase{"ReverseLineFeed", "I", ecReverseLineFeed, {}},
                    TSeqCase{"EraseScreenFrom", "J", ecEraseScreenFrom, {}},
                    TSeqCase{"EraseLineFrom", "K", ecEraseLineFrom, {}},
                    TSeqCase{"MoveRow13Column32", "Y,?", ecCursorMove, {"13", "32"}},
                    TSeqCase{"MoveHome", "Y  ", ecCursorMove, {"1", "1"}},
                    TSeqCase{"Identify", "Z", ecIdentify, {}},
                    TSeqCase{"IdentResponse", "/Z", ecIdentResponse, {}},
                    TSeqCase{"SlashOther", "/x", ecUnknown, {}},
                    TSeqCase{"Other", "q", ecUnknown, {}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

class Vt100Table : public testing::TestWithParam<TSeqCase> {};

TEST_P(Vt100Table, CompletesWithItsCode) {
    TEscapeCodesVT100 parser;
    ExpectCompletes(parser, GetParam());
    EXPECT_FALSE(parser.InEscape);
    EXPECT_FALSE(parser.InCsi);
}

INSTANTIATE_TEST_SUITE_P(ShortRows, Vt100Table,
                         testing::Values(TSeqCase{"Save", "7", ecSaveCaretAndAttr, {}},
                                         TSeqCase{"Restore", "8", ecRestoreCaretAndAttr, {}},
                                         TSeqCase{"SetTab", "H", ecSetTab, {}},
                                         TSeqCase{"Reset", "c", ecReset, {}},
                                         TSeqCase{"Test", "#8", ecTest, {}},
                                         TSeqCase{"HashOther", "#3", ecUnknown, {}},
                                         TSeqCase{"AppUp", "OA", ecAppCursorUp, {}},
                                         TSeqCase{"AppDown", "OB", ecAppCursorDown, {}},
                                         TSeqCase{"AppRight", "OC", ecAppCursorRight, {}},
                                         TSeqCase{"AppLeft", "OD", ecAppCursorLeft, {}},
                                         TSeqCase{"OOther", "OP", ecUnknown, {}},
                                         TSeqCase{"Charset", "(", ecUnknown, {}}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    CsiRows, Vt100Table,
    testing::Values(
        TSeqCase{"Up", "[A", ecCursorUp, {}}, TSeqCase{"DownBy5", "[5B", ecCursorDown, {"5"}},
        TSeqCase{"Right", "[C", ecCursorRight, {}}, TSeqCase{"Left", "[D", ecCursorLeft, {}},
        TSeqCase{"Home12_40", "[12;40H", ecCursorHome, {"12", "40"}},
        TSeqCase{"Move12_40", "[12;40f", ecCursorMove, {"12", "40"}},
        TSeqCase{"ScreenFrom", "[J", ecEraseScreenFrom, {}},
        TSeqCase{"ScreenFrom0", "[0J", ecEraseScreenFrom, {}},
        TSeqCase{"Screen", "[2J", ecEraseScreen, {}}, TSeqCase{"ScreenOther", "[1J", ecUnknown, {}},
        TSeqCase{"LineFrom", "[K", ecEraseLineFrom, {}},
        TSeqCase{"LineFrom0", "[0K", ecEraseLineFrom, {}}, TSeqCase{"Line", "[2K", ecEraseLine, {}},
        TSeqCase{"LineOther", "[1K", ecUnknown, {}}, TSeqCase{"ClearTab", "[g", ecClearTab, {}},
        TSeqCase{"ClearTab0", "[0g", ecClearTab, {}},
        TSeqCase{"ClearAllTabs", "[3g", ecClearAllTabs, {}},
        TSeqCase{"TabOther", "[2g", ecUnknown, {}},
        TSeqCase{"QueryDevice", "[5n", ecQueryDevice, {}},
        TSeqCase{"QueryCursor", "[6n", ecQueryCursorPos, {}},
        TSeqCase{"DeviceOK", "[0n", ecReportDeviceOK, {}},
        TSeqCase{"DeviceFailure", "[3n", ecReportDeviceFailure, {}},
        TSeqCase{"StatusNone", "[n", ecUnknown, {}}, TSeqCase{"StatusOther", "[7n", ecUnknown, {}},
        TSeqCase{"Identify", "[c", ecIdentify, {}}, TSeqCase{"Identify0", "[0c", ecIdentify, {"0"}},
        TSeqCase{"IdentResponse", "[?1;2c", ecIdentResponse, {"?1", "2"}},
        TSeqCase{"IdentOther", "[?6c", ecUnknown, {"?6"}},
        TSeqCase{"CursorReport", "[3;7R", ecReportCursorPos, {"3", "7"}},
        TSeqCase{"SetMode", "[?1h", ecSetMode, {"?1"}},
        TSeqCase{"ResetMode", "[7l", ecResetMode, {"7"}},
        TSeqCase{"Attributes", "[1;7m", ecAttributes, {"1", "7"}},
        TSeqCase{"AttributesNone", "[m", ecAttributes, {}},
        TSeqCase{"SaveCaret", "[s", ecSaveCaret, {}},
        TSeqCase{"RestoreCaret", "[u", ecRestoreCaret, {}},
        TSeqCase{"OtherLetter", "[4z", ecUnknown, {"4"}},
        // A ";" at the start of a parameter belongs to it.
        TSeqCase{"LeadingEmpty", "[;5H", ecCursorHome, {";5"}},
        TSeqCase{"MiddleEmpty", "[1;;2H", ecCursorHome, {"1", ";2"}},
        TSeqCase{"TrailingSemicolon", "[4;m", ecAttributes, {"4"}},
        TSeqCase{"ControlInside", "[1\r5A", ecCursorUp, {"1\r5"}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(Vt100Parser, StaysPendingUntilALetterAndGivesUpOnAnEndlessSequence) {
    TEscapeCodesVT100 parser;
    EXPECT_EQ(Feed(parser, "\x1b[5").Results.back(), psPending);
    EXPECT_TRUE(parser.InCsi);
    EXPECT_EQ(parser.FeedChar('A'), psCode);
    EXPECT_EQ(parser.LastCode, ecCursorUp);

    // Digits that never end: the sequence completes as unknown, and text is plain again.
    const TParsed endless = Feed(parser, "\x1b[" + std::string(1000, '1'));
    EXPECT_EQ(std::count(endless.Results.begin(), endless.Results.end(), psCode), 1);
    EXPECT_EQ(parser.LastCode, ecUnknown);
    EXPECT_EQ(endless.Results.back(), psChar);
}

TEST(Parsers, PlainCharactersIncludingControlsArePassedOn) {
    std::unique_ptr<TEscapeCodes> parsers[] = {std::make_unique<TEscapeCodesVT52>(),
                                               std::make_unique<TEscapeCodesVT100>()};
    for (auto& parser : parsers) {
        for (const std::uint8_t c : {std::uint8_t{'a'}, std::uint8_t{0}, std::uint8_t{7},
                                     std::uint8_t{13}, std::uint8_t{0x9B}, std::uint8_t{0xFF}}) {
            EXPECT_EQ(parser->FeedChar(c), psChar);
            EXPECT_EQ(parser->PlainChar, c);
        }
    }
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

struct TTextCase {
    TEscapeCode Code;
    const char* Vt52;  // after ESC; nullptr: empty text
    const char* Vt100;
};

TEST(CodeToText, EveryCodeGivesItsTextInBothEmulations) {
    const TParamList params = {"12", "40"};
    const TTextCase cases[] = {
        {ecUnknown, nullptr, nullptr},
        {ecNotCompleted, nullptr, nullptr},
        {ecCursorUp, "A", "[A"},
        {ecCursorDown, "B", "[B"},
        {ecCursorLeft, "D", "[D"},
        {ecCursorRight, "C", "[C"},
        {ecCursorHome, "H", "[H"},
        {ecCursorMove, "Y+G", "[12;40f"},
        {ecReverseLineFeed, "I", nullptr},
        {ecAppCursorLeft, nullptr, "OD"},
        {ecAppCursorRight, nullptr, "OC"},
        {ecAppCursorUp, nullptr, "OA"},
        {ecAppCursorDown, nullptr, "OB"},
        {ecEraseLineFrom, "K", "[K"},
        {ecEraseScreenFrom, "J", "[J"},
        {ecEraseLine, nullptr, "[2K"},
        {ecEraseScreen, nullptr, "[2J"},
        {ecSetTab, nullptr, "H"},
        {ecClearTab, nullptr, "[g"},
        {ecClearAllTabs, nullptr, "[3g"},
        {ecIdentify, "Z", "[c"},
        {ecIdentResponse, "/Z", "[?1;12c"},
        {ecQueryDevice, nullptr, "[5n"},
        {ecReportDeviceOK, nullptr, "[0n"},
        {ecReportDeviceFailure, nullptr, "[3n"},
        {ecQueryCursorPos, nullptr, "[6n"},
        {ecReportCursorPos, nullptr, "[12;40R"},
        {ecAttributes, nullptr, "[m"},
        {ecSetMode, nullptr, "[h"},
        {ecResetMode, nullptr, "[l"},
        {ecReset, nullptr, "c"},
        {ecSaveCaretAndAttr, nullptr, "7"},
        {ecRestoreCaretAndAttr, nullptr, "8"},
        {ecSaveCaret, nullptr, "[s"},
        {ecRestoreCaret, nullptr, "[u"},
        {ecTest, nullptr, "#8"},
    };
    ASSERT_EQ(std::size(cases), static_cast<std::size_t>(EscapeCodeCount));
    const TEscapeCodesVT52 vt52;
    const TEscapeCodesVT100 vt100;
    const auto escText = [](const char* Rest) {
        std::string text;
        if (Rest != nullptr)
            text.append(1, '\x1b').append(Rest);
        return text;
    };
    for (const TTextCase& c : cases) {
        SCOPED_TRACE(EscapeCodeName(c.Code));
        EXPECT_EQ(vt52.CodeToText(c.Code, params), escText(c.Vt52));
        EXPECT_EQ(vt100.CodeToText(c.Code, params), escText(c.Vt100));
    }
    // Missing numbers count as 1.
    EXPECT_EQ(vt100.CodeToText(ecReportCursorPos, {}), "\x1b[1;1R");
}

}  // namespace
}  // namespace tarnwick
