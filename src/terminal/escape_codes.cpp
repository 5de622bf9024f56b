#include "terminal/escape_codes.h"

#include <charconv>
#include <cstdio>

namespace tarnwick {

namespace {

constexpr std::uint8_t Esc = 27;

// A sequence that never completes would swallow all later text and grow without
// end; past this length it completes as unknown.
constexpr std::size_t MaxSeqLength = 256;

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string Text(const char* Format, int A, int B = 0) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, Format, A, B);
    return buffer;
}

// ESC and Rest; empty for none.
std::string EscText(const char* Rest) {
    return Rest == nullptr ? std::string() : std::string(1, static_cast<char>(Esc)) + Rest;
}

// What each code sends after ESC, in code order; codes with numbers are formatted apart.
struct TCodeTexts {
    const char* Vt52;
    const char* Vt100;
};
constexpr TCodeTexts CodeTexts[EscapeCodeCount] = {
    {nullptr, nullptr},  // ecUnknown
    {nullptr, nullptr},  // ecNotCompleted
    {"A", "[A"},         // ecCursorUp
    {"B", "[B"},         // ecCursorDown
    {"D", "[D"},         // ecCursorLeft
    {"C", "[C"},         // ecCursorRight
    {"H", "[H"},         // ecCursorHome
    {nullptr, nullptr},  // ecCursorMove
    {"I", nullptr},      // ecReverseLineFeed
    {nullptr, "OD"},     // ecAppCursorLeft
    {nullptr, "OC"},     // ecAppCursorRight
    {nullptr, "OA"},     // ecAppCursorUp
    {nullptr, "OB"},     // ecAppCursorDown
    {"K", "[K"},         // ecEraseLineFrom
    {"J", "[J"},         // ecEraseScreenFrom
    {nullptr, "[2K"},    // ecEraseLine
    {nullptr, "[2J"},    // ecEraseScreen
    {nullptr, "H"},      // ecSetTab
    {nullptr, "[g"},     // ecClearTab
    {nullptr, "[3g"},    // ecClearAllTabs
    {"Z", "[c"},         // ecIdentify
    {"/Z", nullptr},     // ecIdentResponse
    {nullptr, "[5n"},    // ecQueryDevice
    {nullptr, "[0n"},    // ecReportDeviceOK
    {nullptr, "[3n"},    // ecReportDeviceFailure
    {nullptr, "[6n"},    // ecQueryCursorPos
    {nullptr, nullptr},  // ecReportCursorPos
    {nullptr, "[m"},     // ecAttributes
    {nullptr, "[h"},     // ecSetMode
    {nullptr, "[l"},     // ecResetMode
    {nullptr, "c"},      // ecReset
    {nullptr, "7"},      // ecSaveCaretAndAttr
    {nullptr, "8"},      // ecRestoreCaretAndAttr
    {nullptr, "[s"},     // ecSaveCaret
    {nullptr, "[u"},     // ecRestoreCaret
    {nullptr, "#8"},     // ecTest
};

const char* Vt52Text(TEscapeCode Code) {
    return Code < EscapeCodeCount ? CodeTexts[Code].Vt52 : nullptr;
}

const char* Vt100Text(TEscapeCode Code) {
    return Code < EscapeCodeCount ? CodeTexts[Code].Vt100 : nullptr;
}

}  // namespace

int ParamValue(int Index, const TParamList& Params) {
    if (Index < 1 || static_cast<std::size_t>(Index) > Params.size())
        return 1;
    const std::string& text = Params[static_cast<std::size_t>(Index - 1)];
    const char* first = text.data();
    const char* last = first + text.size();
    int value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last || first == last)
        return 1;
    return value;
}

TParamList SplitParams(const std::string& Text) {
    TParamList params;
    std::string current;
    for (const char c : Text) {
        if (c == ';' && !current.empty()) {
            params.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        params.push_back(std::move(current));
    return params;
}

TParseResult TEscapeCodes::FeedOutside(std::uint8_t Ch, bool& InEscape) {
    if (Ch == Esc) {
        SeqText.clear();
        InEscape = true;
        return psPending;
    }
    PlainChar = Ch;
    return psChar;
}

TParseResult TEscapeCodes::Complete(TEscapeCode Code, bool& InEscape) {
    if (Code == ecNotCompleted)
        return psPending;
    LastCode = Code;
    InEscape = false;
    return psCode;
}

// ------------------------------------------------------------------------ VT52

TParseResult TEscapeCodesVT52::FeedChar(std::uint8_t Ch) {
    if (!InEscape)
        return FeedOutside(Ch, InEscape);
    SeqText += static_cast<char>(Ch);
    return Complete(Classify(), InEscape);
}

TEscapeCode TEscapeCodesVT52::Classify() {
    switch (SeqText[0]) {
        case 'A':
            return ecCursorUp;
        case 'B':
            return ecCursorDown;
        case 'C':
            return ecCursorRight;
        case 'D':
            return ecCursorLeft;
        case 'H':
            return ecCursorHome;
        case 'I':
            return ecReverseLineFeed;
        case 'J':
            return ecEraseScreenFrom;
        case 'K':
            return ecEraseLineFrom;
        case 'Z':
            return ecIdentify;
        case 'Y':
            if (SeqText.size() < 3)
                return ecNotCompleted;
            ParamList = {std::to_string(static_cast<std::uint8_t>(SeqText[1]) - 31),
                         std::to_string(static_cast<std::uint8_t>(SeqText[2]) - 31)};
            return ecCursorMove;
        case '/':
            if (SeqText.size() == 1)
                return ecNotCompleted;
            return SeqText == "/Z" ? ecIdentResponse : ecUnknown;
        default:
            return ecUnknown;
    }
}

std::string TEscapeCodesVT52::CodeToText(TEscapeCode Code, const TParamList& Params) const {
    if (Code == ecCursorMove) {
        return EscText("Y") + static_cast<char>(ParamValue(1, Params) + 31) +
               static_cast<char>(ParamValue(2, Params) + 31);
    }
    return EscText(Vt52Text(Code));
}

// ----------------------------------------------------------------------- VT100

TParseResult TEscapeCodesVT100::FeedChar(std::uint8_t Ch) {
    if (!InEscape)
        return FeedOutside(Ch, InEscape);
    SeqText += static_cast<char>(Ch);
    TEscapeCode code;
    if (InCsi) {
        code = ClassifyCsi();
    } else if (SeqText[0] == '[') {
        InCsi = true;
        return psPending;
    } else {
        code = ClassifyShort();
    }
    const TParseResult result = Complete(code, InEscape);
    if (result == psCode)
        InCsi = false;
    return result;
}

TEscapeCode TEscapeCodesVT100::ClassifyShort() const {
    struct TShortCode {
        const char* Text;
        TEscapeCode Code;
    };
    static constexpr TShortCode table[] = {
        {"#", ecNotCompleted},
        {"O", ecNotCompleted},
        {"7", ecSaveCaretAndAttr},
        {"8", ecRestoreCaretAndAttr},
        {"H", ecSetTab},
        {"c", ecReset},
        {"#8", ecTest},
        {"OA", ecAppCursorUp},
        {"OB", ecAppCursorDown},
        {"OC", ecAppCursorRight},
        {"OD", ecAppCursorLeft},
    };
    for (const TShortCode& entry : table) {
        if (SeqText == entry.Text)
            return entry.Code;
    }
    return ecUnknown;
}

TEscapeCode TEscapeCodesVT100::ClassifyCsi() {
    const char final = SeqText.back();
    if (!IsLetter(final))
        return SeqText.size() < MaxSeqLength ? ecNotCompleted : ecUnknown;
    TParamList params = SplitParams(SeqText.substr(1, SeqText.size() - 2));
    const char first = params.empty() ? '\0' : params.front()[0];
    const bool none = params.empty();
    TEscapeCode code = ecUnknown;
    switch (final) {
        case 'A':
            code = ecCursorUp;
            break;
        case 'B':
            code = ecCursorDown;
            break;
        case 'C':
            code = ecCursorRight;
            break;
        case 'D':
            code = ecCursorLeft;
            break;
        case 'H':
            code = ecCursorHome;
            break;
        case 'f':
            code = ecCursorMove;
            break;
        case 'J':
            code = (none || first == '0') ? ecEraseScreenFrom
                   : first == '2'         ? ecEraseScreen
                                          : ecUnknown;
            params.clear();
            break;
        case 'K':
            code = (none || first == '0') ? ecEraseLineFrom
                   : first == '2'         ? ecEraseLine
                                          : ecUnknown;
            params.clear();
            break;
        case 'g':
            code = (none || first == '0') ? ecClearTab : first == '3' ? ecClearAllTabs : ecUnknown;
            params.clear();
            break;
        case 'n':
            code = first == '5'   ? ecQueryDevice
                   : first == '6' ? ecQueryCursorPos
                   : first == '0' ? ecReportDeviceOK
                   : first == '3' ? ecReportDeviceFailure
                                  : ecUnknown;
            params.clear();
            break;
        case 'c':
            if (none || (params.size() == 1 && params[0] == "0"))
                code = ecIdentify;
            else if (params.size() == 2 && params[0] == "?1")
                code = ecIdentResponse;
            break;
        case 'R':
            code = ecReportCursorPos;
            break;
        case 'h':
            code = ecSetMode;
            break;
        case 'l':
            code = ecResetMode;
            break;
        case 'm':
            code = ecAttributes;
            break;
        case 's':
            code = ecSaveCaret;
            break;
        case 'u':
            code = ecRestoreCaret;
            break;
        default:
            break;
    }
    ParamList = std::move(params);
    return code;
}

std::string TEscapeCodesVT100::CodeToText(TEscapeCode Code, const TParamList& Params) const {
    const int p1 = ParamValue(1, Params);
    const int p2 = ParamValue(2, Params);
    switch (Code) {
        case ecCursorMove:
            return Text("\x1b[%d;%df", p1, p2);
        case ecIdentResponse:
            return Text("\x1b[?1;%dc", p1);
        case ecReportCursorPos:
            return Text("\x1b[%d;%dR", p1, p2);
        default:
            return EscText(Vt100Text(Code));
    }
}

const char* EscapeCodeName(TEscapeCode Code) {
    static const char* const names[EscapeCodeCount] = {"ecUnknown",
                                                       "ecNotCompleted",
                                                       "ecCursorUp",
                                                       "ecCursorDown",
                                                       "ecCursorLeft",
                                                       "ecCursorRight",
                                                       "ecCursorHome",
                                                       "ecCursorMove",
                                                       "ecReverseLineFeed",
                                                       "ecAppCursorLeft",
                                                       "ecAppCursorRight",
                                                       "ecAppCursorUp",
                                                       "ecAppCursorDown",
                                                       "ecEraseLineFrom",
                                                       "ecEraseScreenFrom",
                                                       "ecEraseLine",
                                                       "ecEraseScreen",
                                                       "ecSetTab",
                                                       "ecClearTab",
                                                       "ecClearAllTabs",
                                                       "ecIdentify",
                                                       "ecIdentResponse",
                                                       "ecQueryDevice",
                                                       "ecReportDeviceOK",
                                                       "ecReportDeviceFailure",
                                                       "ecQueryCursorPos",
                                                       "ecReportCursorPos",
                                                       "ecAttributes",
                                                       "ecSetMode",
                                                       "ecResetMode",
                                                       "ecReset",
                                                       "ecSaveCaretAndAttr",
                                                       "ecRestoreCaretAndAttr",
                                                       "ecSaveCaret",
                                                       "ecRestoreCaret",
                                                       "ecTest"};
    return Code < EscapeCodeCount ? names[Code] : "?";
}

}  // namespace tarnwick
