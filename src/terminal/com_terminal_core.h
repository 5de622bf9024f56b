// The terminal's behaviour without a display: received chunks from the linked port
// run through the parser into the cell buffer; answers to queries and typed keys are
// handed to OnOutput, which its owner wires to the port (WriteToLinkedPort), so the
// owner decides when the terminal may speak on the line: the core writes nothing
// itself. It draws through a TTermView when one is set (the Qt widget is one); without
// one it keeps only the buffer, which is what the CLI and the window's hidden terminal
// need.
//
// Threads: everything runs on the thread that dispatches the port's events (the
// main thread with the port's default thread sync).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "comport/com_port.h"
#include "terminal/escape_codes.h"
#include "terminal/term_buffer.h"

namespace tarnwick {

enum TTermEmulation : std::uint8_t { teVT100orANSI, teVT52, teNone };
enum TArrowKeys : std::uint8_t { akTerminal, akWindows };
// How StepCaret moves.
enum TCaretStep : std::uint8_t {
    csAfterChar,
    csCarriageReturn,
    csLineFeed,
    csReverseLineFeed,
    csTab,
    csBack
};
// The keys the terminal maps to cursor codes.
enum TTermKey : std::uint8_t { tkHome, tkLeft, tkUp, tkRight, tkDown };

inline constexpr int MinColumns = 2;
inline constexpr int MaxColumns = 256;
inline constexpr int MinRows = 2;
inline constexpr int MaxRows = 100;

class TComTerminalCore {
  public:
    using TChScreenEvent = std::function<void(TComTerminalCore& Sender, std::uint8_t Ch)>;
    // Supplies a parser (or none) when Emulation is teNone; the terminal owns it.
    using TEscapeEvent =
        std::function<void(TComTerminalCore& Sender, std::unique_ptr<TEscapeCodes>& EscapeCodes)>;
    using TStrRecvEvent = std::function<void(TComTerminalCore& Sender, std::string& Str)>;
    using TUnhandledEvent =
        std::function<void(TComTerminalCore& Sender, TEscapeCode Code, const std::string& Data)>;
    // Bytes the terminal sends: an answer to a query, a typed key, a cursor code.
    using TOutputEvent = std::function<void(TComTerminalCore& Sender, const std::string& Bytes)>;

    TComTerminalCore();
    virtual ~TComTerminalCore();
    TComTerminalCore(const TComTerminalCore&) = delete;
    TComTerminalCore& operator=(const TComTerminalCore&) = delete;

    // ---- properties
    TCustomComPort* ComPort() const { return FComPort; }
    // Detaches the link from the old port and attaches it to the new one. The
    // terminal forgets a port that is destroyed before it.
    void SetComPort(TCustomComPort* Value);
    // The port's open state (false without a port); setting opens or closes it.
    bool Connected() const;
    void SetConnected(bool Value);
    TTermEmulation Emulation() const { return FEmulation; }
    void SetEmulation(TTermEmulation Value);
    int Columns() const { return Buffer.Columns(); }
    // Limited to 2..256; clears the screen.
    void SetColumns(int Value);
    int Rows() const { return Buffer.Rows(); }
    // Limited to 2..100; clears the screen.
    void SetRows(int Value);
    TColor AltColor() const { return FAltColor; }
    void SetAltColor(TColor Value) { FAltColor = Value; }
    bool AppendLF() const { return FAppendLF; }
    void SetAppendLF(bool Value) { FAppendLF = Value; }
    bool Force7Bit() const { return FForce7Bit; }
    void SetForce7Bit(bool Value) { FForce7Bit = Value; }
    bool LocalEcho() const { return FLocalEcho; }
    void SetLocalEcho(bool Value) { FLocalEcho = Value; }
    bool SendLF() const { return FSendLF; }
    void SetSendLF(bool Value) { FSendLF = Value; }
    bool WrapLines() const { return FWrapLines; }
    void SetWrapLines(bool Value) { FWrapLines = Value; }
    TArrowKeys ArrowKeys() const { return FArrowKeys; }
    void SetArrowKeys(TArrowKeys Value) { FArrowKeys = Value; }
    // The control's font colour (plain text) and colour (background).
    TColor FontColor() const { return FFontColor; }
    void SetFontColor(TColor Value);
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);

    // ---- state
    int CaretCol() const { return FCaretCol; }
    int CaretRow() const { return FCaretRow; }
    bool AppCursorKeys() const { return FAppCursorKeys; }
    const TComTermBuffer& ScreenBuffer() const { return Buffer; }
    TEscapeCodes* EscapeCodes() const { return Parser.get(); }
    TComLink& Link() { return FLink; }

    // ---- behaviour
    // The link's received-data callback: ReceiveBytes.
    void TakeLinkData(TCustomComPort& Port, const std::uint8_t* Data, int Count);
    // Shows a received chunk (of any length): AppendLF, Force7Bit, OnStrRecieved,
    // RenderText. Also for bytes that come from elsewhere, such as a captured log.
    void ReceiveBytes(const std::uint8_t* Data, int Count);
    void RenderText(const std::string& Text);
    void DisplayChar(std::uint8_t Ch);
    void StepCaret(TCaretStep Step);
    // Limits the position to the grid and moves the caret there.
    void PlaceCaret(int Column, int Row);
    // Whether the terminal acted on Code.
    bool ApplyCode(TEscapeCode Code, const TParamList& Params);
    void ApplyAttributes(const TParamList& Params);
    void ApplyModes(const TParamList& Params, bool On);
    // Hands the parser's text for Code to OnOutput, when a port is open and a parser exists.
    void AnswerCode(TEscapeCode Code, const TParamList& Params);
    // AnswerCode, and with LocalEcho the code is also applied here.
    void SendCodeWithEcho(TEscapeCode Code, const TParamList& Params);
    // A typed character: echoed locally with LocalEcho, handed to OnOutput while the
    // port is open.
    void TypeChar(std::uint8_t Ch);
    // A cursor key; false when the key does nothing in the current mode.
    bool KeyDown(TTermKey Key);
    TTermCell NewCellStyle(std::uint8_t Ch) const;

    // ---- events (sender first; unset ones are skipped)
    TChScreenEvent OnChar;
    TEscapeEvent OnGetEscapeCodes;
    TStrRecvEvent OnStrRecieved;
    TUnhandledEvent OnUnhandledCode;
    // Where everything the terminal sends goes; unset, it goes nowhere. Exceptions from
    // it pass out of the call that produced the bytes.
    TOutputEvent OnOutput;

  protected:
    virtual void FireChar(std::uint8_t Ch);
    virtual void FireGetEscapeCodes(std::unique_ptr<TEscapeCodes>& EscapeCodes);
    virtual void FireStrRecieved(std::string& Str);
    virtual void FireUnhandledCode(TEscapeCode Code, const std::string& Data);

    // The widget draws the terminal; set it once the view can take calls.
    void SetView(TTermView* Value);
    TTermView* View() const { return FView; }
    void MakeParser();
    // Fills every cell with "E" (the screen alignment test).
    void FillTestPattern();

  private:
    void Output(const std::string& Bytes);

    struct TSavedState {
        int Col = 1;
        int Row = 1;
        TColor TextColor = 0;
        TColor FillColor = 0;
        bool Reverse = false;
        bool Bold = false;
        bool Underline = false;
    };
    TSavedState CurrentState() const;
    void ResetAttributes();
    void ResizeGrid(int Columns, int Rows);
    void MoveCaretBy(long long Columns, long long Rows);
    void ShowCaret();
    void HideCaret();
    // Hides the caret for its lifetime, also when an exception passes.
    class TCaretHider {
      public:
        explicit TCaretHider(TComTerminalCore& Terminal) : Owner(Terminal) { Owner.HideCaret(); }
        ~TCaretHider() { Owner.ShowCaret(); }
        TCaretHider(const TCaretHider&) = delete;
        TCaretHider& operator=(const TCaretHider&) = delete;

      private:
        TComTerminalCore& Owner;
    };

    TCustomComPort* FComPort = nullptr;
    TTermEmulation FEmulation = teVT100orANSI;
    TColor FAltColor = 0xA6A6A6;
    bool FAppendLF = false;
    bool FForce7Bit = false;
    bool FLocalEcho = false;
    bool FSendLF = false;
    bool FWrapLines = false;
    TArrowKeys FArrowKeys = akTerminal;
    TColor FFontColor = 0xFFFFFF;
    TColor FColor = 0x000000;

    int FCaretCol = 1;
    int FCaretRow = 1;
    TColor CurTextColor = 0xFFFFFF;
    TColor CurFillColor = 0x000000;
    bool ReverseOn = false;
    bool BoldOn = false;
    bool UnderlineOn = false;
    bool FAppCursorKeys = false;
    // Starts as the current state, so a restore before any save changes nothing.
    TSavedState Saved;
    bool AnythingSaved = false;
    int CaretHidden = 0;

    TComTermBuffer Buffer;
    std::unique_ptr<TEscapeCodes> Parser;
    TComLink FLink;
    TTermView* FView = nullptr;
};

// The usual OnOutput: the bytes are written to the terminal's port when it has one and
// it is open.
void WriteToLinkedPort(TComTerminalCore& Terminal, const std::string& Bytes);

}  // namespace tarnwick
