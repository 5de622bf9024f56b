#include "terminal/com_terminal_core.h"

#include <algorithm>
#include <exception>

#include "comport/platform/comm_device.h"

namespace tarnwick {

TComTerminalCore::TComTerminalCore() {
    FLink.LinkDataReceived = [this](TCustomComPort& Port, const std::uint8_t* Data, int Count) {
        TakeLinkData(Port, Data, Count);
    };
    // The grid exists before any text can arrive.
    Buffer.ResetGrid(80, 24);
    Saved = CurrentState();
    MakeParser();
}

TComTerminalCore::~TComTerminalCore() {
    try {
        SetComPort(nullptr);
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}

// ------------------------------------------------------------------ properties

void TComTerminalCore::SetComPort(TCustomComPort* Value) {
    if (Value == FComPort)
        return;
    if (FComPort != nullptr) {
        TCustomComPort* old = FComPort;
        FComPort = nullptr;
        old->RemoveFreeNotification(this);
        old->DetachLink(&FLink);
    }
    if (Value != nullptr) {
        Value->AttachLink(&FLink);
        Value->FreeNotification(this, [this] { FComPort = nullptr; });
        FComPort = Value;
    }
}

bool TComTerminalCore::Connected() const {
    return FComPort != nullptr && FComPort->Connected();
}

void TComTerminalCore::SetConnected(bool Value) {
    if (FComPort != nullptr)
        FComPort->SetConnected(Value);
}

void TComTerminalCore::SetEmulation(TTermEmulation Value) {
    FEmulation = Value;
    MakeParser();
}

void TComTerminalCore::SetColumns(int Value) {
    ResizeGrid(std::clamp(Value, MinColumns, MaxColumns), Rows());
}

void TComTerminalCore::SetRows(int Value) {
    ResizeGrid(Columns(), std::clamp(Value, MinRows, MaxRows));
}

void TComTerminalCore::ResizeGrid(int NewColumns, int NewRows) {
    Buffer.ResetGrid(NewColumns, NewRows);
    // Every later cell access goes through the caret: it must fit the new grid now.
    PlaceCaret(FCaretCol, FCaretRow);
    Saved.Col = std::min(Saved.Col, NewColumns);
    Saved.Row = std::min(Saved.Row, NewRows);
    if (FView != nullptr) {
        FView->GridResized();
        FView->RepaintAll();
    }
}

void TComTerminalCore::SetFontColor(TColor Value) {
    FFontColor = Value;
    CurTextColor = Value;
    if (!AnythingSaved)
        Saved.TextColor = Value;
}

void TComTerminalCore::SetColor(TColor Value) {
    FColor = Value;
    CurFillColor = Value;
    if (!AnythingSaved)
        Saved.FillColor = Value;
}

void TComTerminalCore::SetView(TTermView* Value) {
    FView = Value;
    Buffer.SetView(Value);
}

void TComTerminalCore::MakeParser() {
    Parser.reset();
    switch (FEmulation) {
        case teVT100orANSI:
            Parser = std::make_unique<TEscapeCodesVT100>();
            break;
        case teVT52:
            Parser = std::make_unique<TEscapeCodesVT52>();
            break;
        case teNone:
            FireGetEscapeCodes(Parser);
            break;
    }
}

// ------------------------------------------------------------------- reception

void TComTerminalCore::TakeLinkData(TCustomComPort&, const std::uint8_t* Data, int Count) {
    ReceiveBytes(Data, Count);
}

void TComTerminalCore::ReceiveBytes(const std::uint8_t* Data, int Count) {
    // Every chunk is shown, however long: a visible terminal must not lose output.
    if (Count <= 0)
        return;
    if (Data[0] == 0)
        platform::DebugOutput("nul");
    std::string text;
    text.reserve(static_cast<std::size_t>(Count));
    for (int i = 0; i < Count; ++i) {
        const std::uint8_t byte = Data[i];
        text += static_cast<char>(FForce7Bit ? byte & 0x7F : byte);
        if (FAppendLF && byte == '\r')
            text += '\n';
    }
    FireStrRecieved(text);
    RenderText(text);
}

void TComTerminalCore::RenderText(const std::string& Text) {
    const TCaretHider hider(*this);
    for (const char c : Text) {
        const auto ch = static_cast<std::uint8_t>(c);
        if (!Parser) {
            DisplayChar(ch);
            continue;
        }
        switch (Parser->FeedChar(ch)) {
            case psChar:
                DisplayChar(Parser->PlainChar);
                break;
            case psCode:
                if (!ApplyCode(Parser->LastCode, Parser->ParamList)) {
                    // The handler may replace the parser: hand it copies.
                    const TEscapeCode code = Parser->LastCode;
                    const std::string data = Parser->SeqText;
                    FireUnhandledCode(code, data);
                }
                if (Parser)
                    Parser->ParamList.clear();
                break;
            case psPending:
                break;
        }
    }
}

void TComTerminalCore::DisplayChar(std::uint8_t Ch) {
    switch (Ch) {
        case 8:
            StepCaret(csBack);
            break;
        case 9:
            StepCaret(csTab);
            break;
        case 10:
        case 12:
            StepCaret(csLineFeed);
            break;
        case 13:
            StepCaret(csCarriageReturn);
            break;
        default:
            if (Ch >= 32) {
                Buffer.PutCell(FCaretCol, FCaretRow, NewCellStyle(Ch));
                if (FView != nullptr)
                    FView->InvalidateCells(FCaretCol, FCaretRow, FCaretCol, FCaretRow);
                StepCaret(csAfterChar);
            }
            break;
    }
    FireChar(Ch);
}

TTermCell TComTerminalCore::NewCellStyle(std::uint8_t Ch) const {
    TTermCell cell;
    cell.Glyph = Ch;
    cell.TextColor = BoldOn ? FAltColor : ReverseOn ? CurFillColor : CurTextColor;
    cell.FillColor = ReverseOn ? CurTextColor : CurFillColor;
    cell.Underlined = UnderlineOn;
    return cell;
}

// ----------------------------------------------------------------------- caret

void TComTerminalCore::StepCaret(TCaretStep Step) {
    int col = FCaretCol;
    int row = FCaretRow;
    switch (Step) {
        case csAfterChar:
            if (col < Columns()) {
                ++col;
            } else if (FWrapLines) {
                col = 1;
                if (row < Rows())
                    ++row;
                else
                    Buffer.ShiftRowsUp();
            }
            break;
        case csCarriageReturn:
            col = 1;
            break;
        case csLineFeed:
            if (row < Rows())
                ++row;
            else
                Buffer.ShiftRowsUp();
            break;
        case csReverseLineFeed:
            if (row > 1)
                --row;
            else
                Buffer.ShiftRowsDown();
            break;
        case csTab:
            if (const int stop = Buffer.FindNextTabStop(col + 1); stop > 0)
                col = stop;
            break;
        case csBack:
            --col;
            break;
    }
    PlaceCaret(col, row);
}

void TComTerminalCore::PlaceCaret(int Column, int Row) {
    FCaretCol = std::clamp(Column, 1, Columns());
    FCaretRow = std::clamp(Row, 1, Rows());
    if (FView != nullptr)
        FView->CaretMoved(FCaretCol, FCaretRow);
}

void TComTerminalCore::MoveCaretBy(long long ColumnDelta, long long RowDelta) {
    // Wide arithmetic: a parameter can be as large as an int, of either sign.
    const auto limit = [](long long v) {
        return static_cast<int>(std::clamp<long long>(v, 0, MaxColumns + 1));
    };
    PlaceCaret(limit(FCaretCol + ColumnDelta), limit(FCaretRow + RowDelta));
}

void TComTerminalCore::HideCaret() {
    if (CaretHidden++ == 0 && FView != nullptr)
        FView->HideCaret();
}

void TComTerminalCore::ShowCaret() {
    if (--CaretHidden == 0 && FView != nullptr)
        FView->ShowCaret();
}

// ---------------------------------------------------------------------- events

void TComTerminalCore::FireChar(std::uint8_t Ch) {
    if (OnChar)
        OnChar(*this, Ch);
}

void TComTerminalCore::FireGetEscapeCodes(std::unique_ptr<TEscapeCodes>& EscapeCodes) {
    if (OnGetEscapeCodes)
        OnGetEscapeCodes(*this, EscapeCodes);
}

void TComTerminalCore::FireStrRecieved(std::string& Str) {
    if (OnStrRecieved)
        OnStrRecieved(*this, Str);
}

void TComTerminalCore::FireUnhandledCode(TEscapeCode Code, const std::string& Data) {
    if (OnUnhandledCode)
        OnUnhandledCode(*this, Code, Data);
}

}  // namespace tarnwick
