// What the terminal does with a completed code, and what it sends: answers to
// queries, typed characters and cursor keys.
#include <string>

#include "terminal/com_terminal_core.h"

namespace tarnwick {

bool TComTerminalCore::ApplyCode(TEscapeCode Code, const TParamList& Params) {
    const long long n = ParamValue(1, Params);
    switch (Code) {
        case ecCursorUp:
        case ecAppCursorUp:
            MoveCaretBy(0, -n);
            break;
        // The application-mode twins move like the plain ones, so local echo of an
        // application cursor key moves the caret too.
        case ecCursorDown:
        case ecAppCursorDown:
            MoveCaretBy(0, n);
            break;
        case ecCursorLeft:
        case ecAppCursorLeft:
            MoveCaretBy(-n, 0);
            break;
        case ecCursorRight:
        case ecAppCursorRight:
            MoveCaretBy(n, 0);
            break;
        case ecCursorHome:
        case ecCursorMove:
            PlaceCaret(ParamValue(2, Params), ParamValue(1, Params));
            break;
        case ecReverseLineFeed:
            StepCaret(csReverseLineFeed);
            break;
        case ecEraseLineFrom:
            Buffer.ClearToLineEnd(FCaretCol, FCaretRow);
            break;
        case ecEraseScreenFrom:
            Buffer.ClearToScreenEnd(FCaretCol, FCaretRow);
            break;
        case ecEraseLine:
            Buffer.ClearToLineEnd(1, FCaretRow);
            PlaceCaret(1, FCaretRow);
            break;
        case ecEraseScreen:
            Buffer.ClearToScreenEnd(1, 1);
            PlaceCaret(1, 1);
            break;
        case ecSetTab:
            Buffer.SetTabStop(FCaretCol, true);
            break;
        case ecClearTab:
            Buffer.SetTabStop(FCaretCol, false);
            break;
        case ecClearAllTabs:
            Buffer.ClearTabStops();
            break;
        case ecIdentify:
            AnswerCode(ecIdentResponse, {"2"});
            break;
        case ecQueryDevice:
            AnswerCode(ecReportDeviceOK, {});
            break;
        case ecQueryCursorPos:
            AnswerCode(ecReportCursorPos, {std::to_string(FCaretRow), std::to_string(FCaretCol)});
            break;
        case ecAttributes:
            ApplyAttributes(Params);
            break;
        case ecSetMode:
            ApplyModes(Params, true);
            break;
        case ecResetMode:
            ApplyModes(Params, false);
            break;
        case ecReset:
            ApplyAttributes({"0"});
            break;
        case ecSaveCaretAndAttr:
            Saved = CurrentState();
            AnythingSaved = true;
            break;
        case ecRestoreCaretAndAttr:
            CurTextColor = Saved.TextColor;
            CurFillColor = Saved.FillColor;
            ReverseOn = Saved.Reverse;
            BoldOn = Saved.Bold;
            UnderlineOn = Saved.Underline;
            PlaceCaret(Saved.Col, Saved.Row);
            break;
        case ecSaveCaret:
            Saved.Col = FCaretCol;
            Saved.Row = FCaretRow;
            break;
        case ecRestoreCaret:
            PlaceCaret(Saved.Col, Saved.Row);
            break;
        case ecTest:
            FillTestPattern();
            break;
        default:
            return false;
    }
    return true;
}

TComTerminalCore::TSavedState TComTerminalCore::CurrentState() const {
    return {FCaretCol, FCaretRow, CurTextColor, CurFillColor, ReverseOn, BoldOn, UnderlineOn};
}

void TComTerminalCore::ResetAttributes() {
    CurTextColor = FFontColor;
    CurFillColor = FColor;
    ReverseOn = false;
    BoldOn = false;
    UnderlineOn = false;
}

void TComTerminalCore::ApplyAttributes(const TParamList& Params) {
    if (Params.empty()) {
        ResetAttributes();
        return;
    }
    for (int i = 1; i <= static_cast<int>(Params.size()); ++i) {
        switch (ParamValue(i, Params)) {
            case 0:
                ResetAttributes();
                break;
            case 1:
                BoldOn = true;
                break;
            case 4:
                UnderlineOn = true;
                break;
            case 7:
                ReverseOn = true;
                break;
            case 21:
                BoldOn = false;
                break;
            case 24:
                UnderlineOn = false;
                break;
            case 27:
                ReverseOn = false;
                break;
            default:
                break;
        }
    }
}

void TComTerminalCore::ApplyModes(const TParamList& Params, bool On) {
    if (Params.empty())
        return;
    const std::string& mode = Params.front();
    if (mode == "?1")
        FAppCursorKeys = On;
    else if (mode == "7")
        FWrapLines = On;
    else if (mode == "?3")
        SetColumns(On ? 132 : 80);
}

void TComTerminalCore::FillTestPattern() {
    const TTermCell cell{'E', FFontColor, FColor, false};
    for (int y = 1; y <= Rows(); ++y) {
        for (int x = 1; x <= Columns(); ++x)
            Buffer.PutCell(x, y, cell);
    }
    if (FView != nullptr)
        FView->RepaintAll();
}

// ----------------------------------------------------------------------- sending

void TComTerminalCore::AnswerCode(TEscapeCode Code, const TParamList& Params) {
    if (Connected() && Parser)
        Output(Parser->CodeToText(Code, Params));
}

void TComTerminalCore::SendCodeWithEcho(TEscapeCode Code, const TParamList& Params) {
    AnswerCode(Code, Params);
    if (FLocalEcho) {
        const TCaretHider hider(*this);
        ApplyCode(Code, Params);
    }
}

void TComTerminalCore::TypeChar(std::uint8_t Ch) {
    if (FLocalEcho) {
        const TCaretHider hider(*this);
        DisplayChar(Ch);
        if (Ch == '\r' && FSendLF && FComPort == nullptr)
            DisplayChar('\n');
    }
    if (Connected()) {
        Output(std::string(1, static_cast<char>(Ch)));
        if (Ch == '\r' && FSendLF)
            TypeChar('\n');
    }
}

void TComTerminalCore::Output(const std::string& Bytes) {
    if (OnOutput)
        OnOutput(*this, Bytes);
}

void WriteToLinkedPort(TComTerminalCore& Terminal, const std::string& Bytes) {
    if (TCustomComPort* port = Terminal.ComPort(); port != nullptr && port->Connected())
        port->WriteStr(Bytes);
}

bool TComTerminalCore::KeyDown(TTermKey Key) {
    if (FAppCursorKeys) {
        static constexpr TEscapeCode appCodes[] = {ecUnknown, ecAppCursorLeft, ecAppCursorUp,
                                                   ecAppCursorRight, ecAppCursorDown};
        if (Key == tkHome)
            return false;
        SendCodeWithEcho(appCodes[Key], {});
        return true;
    }
    static constexpr TEscapeCode codes[] = {ecCursorHome, ecCursorLeft, ecCursorUp, ecCursorRight,
                                            ecCursorDown};
    if (FArrowKeys == akWindows) {
        const TCaretHider hider(*this);
        ApplyCode(codes[Key], {});
    } else {
        SendCodeWithEcho(codes[Key], {});
    }
    return true;
}

}  // namespace tarnwick
