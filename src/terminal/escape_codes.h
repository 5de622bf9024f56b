// Escape-sequence parsers of the terminal: a stream of received characters becomes
// plain characters and completed codes with numeric parameters, and a code the
// terminal wants to send becomes its character sequence.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

enum TEscapeCode : std::uint8_t {
    ecUnknown,
    ecNotCompleted,
    ecCursorUp,
    ecCursorDown,
    ecCursorLeft,
    ecCursorRight,
    ecCursorHome,
    ecCursorMove,
    ecReverseLineFeed,
    ecAppCursorLeft,
    ecAppCursorRight,
    ecAppCursorUp,
    ecAppCursorDown,
    ecEraseLineFrom,
    ecEraseScreenFrom,
    ecEraseLine,
    ecEraseScreen,
    ecSetTab,
    ecClearTab,
    ecClearAllTabs,
    ecIdentify,
    ecIdentResponse,
    ecQueryDevice,
    ecReportDeviceOK,
    ecReportDeviceFailure,
    ecQueryCursorPos,
    ecReportCursorPos,
    ecAttributes,
    ecSetMode,
    ecResetMode,
    ecReset,
    ecSaveCaretAndAttr,
    ecRestoreCaretAndAttr,
    ecSaveCaret,
    ecRestoreCaret,
    ecTest
};

inline constexpr int EscapeCodeCount = ecTest + 1;

enum TParseResult : std::uint8_t { psChar, psCode, psPending };

// Parameters as the decimal texts they arrived as.
using TParamList = std::vector<std::string>;

// The value of parameter number Index (from 1); 1 when the list is shorter or the
// text is not a decimal integer that fits an int.
int ParamValue(int Index, const TParamList& Params);

// Base of the parsers. After each FeedChar the terminal reads the fields below.
class TEscapeCodes {
  public:
    virtual ~TEscapeCodes() = default;
    TEscapeCodes() = default;
    TEscapeCodes(const TEscapeCodes&) = delete;
    TEscapeCodes& operator=(const TEscapeCodes&) = delete;

    virtual TParseResult FeedChar(std::uint8_t Ch) = 0;
    // The characters to send for Code; empty for a code this kind cannot send.
    virtual std::string CodeToText(TEscapeCode Code, const TParamList& Params) const = 0;

    std::uint8_t PlainChar = 0;  // the last plain character
    TEscapeCode LastCode = ecUnknown;
    std::string SeqText;   // after ESC, of the current or last sequence
    TParamList ParamList;  // of the last completed sequence

  protected:
    // Outside a sequence: ESC starts one, anything else is a plain character.
    TParseResult FeedOutside(std::uint8_t Ch, bool& InEscape);
    // A classified sequence: pending while not completed, else its code ends it.
    TParseResult Complete(TEscapeCode Code, bool& InEscape);
};

class TEscapeCodesVT52 : public TEscapeCodes {
  public:
    TParseResult FeedChar(std::uint8_t Ch) override;
    std::string CodeToText(TEscapeCode Code, const TParamList& Params) const override;
    bool InEscape = false;

  private:
    TEscapeCode Classify();
};

// VT100 and ANSI.
class TEscapeCodesVT100 : public TEscapeCodes {
  public:
    TParseResult FeedChar(std::uint8_t Ch) override;
    std::string CodeToText(TEscapeCode Code, const TParamList& Params) const override;
    bool InEscape = false;
    bool InCsi = false;

  private:
    TEscapeCode ClassifyShort() const;
    TEscapeCode ClassifyCsi();
};

// The parameters between "[" and the final letter: a ";" ends a non-empty
// parameter, a ";" at the start of a parameter belongs to it, a non-empty rest
// is the last one.
TParamList SplitParams(const std::string& Text);

// The code's name as written in code, e.g. "ecCursorHome" (for messages and tests).
const char* EscapeCodeName(TEscapeCode Code);

}  // namespace tarnwick
