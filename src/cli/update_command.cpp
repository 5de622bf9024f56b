// tarnwick-cli update: a whole firmware update from the command line.
//
// The update run is the one of the main window; this file only plays its owner: messages
// go to standard output one per line, questions and notices to the terminal, progress to
// standard error when that is a terminal, and Ctrl-C asks to cancel.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "bootloader/bootloader.h"
#include "cli_platform.h"
#include "command.h"
#include "comport/com_port.h"
#include "comport/main_thread_dispatcher.h"
#include "image/firmware_image.h"

namespace tarnwick::cli {

namespace {

constexpr int ExitCancelled = 3;

std::atomic<bool> InterruptRequested{false};

void OnInterrupt(int) {
    InterruptRequested = true;
}

struct TUpdateOptions {
    std::string Port;
    std::string Baud;
    std::string Password;
    bool Program = true;
    bool Verify = true;
    bool Yes = false;
    std::string File;
};

class TCliOwner : public TUpdateOwner {
  public:
    TCliOwner(const TUpdateOptions& AOptions, std::ostream& AOut)
        : Options(AOptions),
          Out(AOut),
          InputIsTerminal(isatty(STDIN_FILENO) != 0),
          ProgressIsTerminal(isatty(STDERR_FILENO) != 0),
          Start(std::chrono::steady_clock::now()) {}

    void SetBootloader(TBootloader* Value) { Bootloader = Value; }

    void ReportMessage(const std::string& Text, bool ShowBox, bool ToInfo, bool ToLog) override {
        if (ShowBox || ToInfo || ToLog)
            PrintLine(Text);
    }

    void FlashHint(bool Show, const std::string& Text, int) override {
        if (Show && Text != LastHint)
            PrintLine(Text);
        LastHint = Show ? Text : std::string();
    }

    void ShowNotice(const std::string& Text) override {
        PrintLine(OneLine(Text));
        if (Options.Yes || !InputIsTerminal)
            return;
        Out << "Weiter mit Eingabetaste ... " << std::flush;
        ReadAnswer();
    }

    bool AskYesNo(const std::string& Text) override {
        if (Options.Yes) {
            PrintLine(OneLine(Text) + " j");
            return true;
        }
        if (!InputIsTerminal) {
            PrintLine(OneLine(Text) + " n");
            return false;
        }
        ClearProgress();
        Out << OneLine(Text) << " (j/N) " << std::flush;
        const std::string line = ReadAnswer();
        // Ctrl-C at a question interrupts the read: the answer is No, and the user cancelled.
        if (InterruptRequested) {
            InterruptRequested = false;
            QuestionInterrupted = true;
            return false;
        }
        return line == "j" || line == "J" || line == "ja" || line == "Ja" || line == "y";
    }

    void ClearInfo() override {}

    void SetProgressMax(TProgressBar Bar, int Max) override {
        Bars[Bar].Max = Max;
        DrawProgress(Bar);
    }

    void SetProgressPosition(TProgressBar Bar, int Position) override {
        Bars[Bar].Position = Position;
        DrawProgress(Bar);
    }

    std::string PasswordText() const override { return Options.Password; }
    std::string PortText() const override { return Options.Port; }
    std::string BaudText() const override { return Options.Baud; }
    bool ProgramTicked() const override { return Options.Program; }
    bool VerifyTicked() const override { return Options.Verify; }

    void SetInputsEnabled(bool) override {}
    void SetStartButton(bool, const std::string&) override {}
    void SetCancelEnabled(bool Enabled) override { CancelEnabled = Enabled; }
    void SetStayOnTop(bool) override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}

    void ProcessMessages() override {
        // A Ctrl-C outside the stretches that can be cancelled waits for the next one, so
        // that pressing it during the start-up waits still stops the connection.
        if (InterruptRequested && CancelEnabled && Bootloader != nullptr) {
            InterruptRequested = false;
            Bootloader->CancelButtonClick();
        }
        TMainThreadDispatcher::Instance().WaitAndRunPending(std::chrono::milliseconds(1));
    }

    void Finish() { ClearProgress(); }

    // Whether a question was ended by Ctrl-C.
    bool QuestionInterrupted = false;

  private:
    struct TBarState {
        int Max = 0;
        int Position = 0;
    };

    // Questions and notices may hold line breaks; the tool prints them as one line.
    static std::string OneLine(const std::string& Text) {
        std::string out;
        bool gap = false;
        for (const char c : Text) {
            if (c == '\n' || c == '\r') {
                gap = true;
                continue;
            }
            if (gap && !out.empty())
                out += ' ';
            gap = false;
            out += c;
        }
        return out;
    }

    // One line from the terminal. Input that ends without a line (Ctrl-D, or a Ctrl-C that
    // interrupts the read) leaves the prompt's line open, so it is ended here: the next
    // message gets a line of its own.
    std::string ReadAnswer() {
        std::string line;
        if (!std::getline(std::cin, line) || std::cin.eof())
            Out << '\n' << std::flush;
        std::cin.clear();
        return line;
    }

    void PrintLine(const std::string& Text) {
        ClearProgress();
        Out << Text << '\n' << std::flush;
    }

    void ClearProgress() {
        if (ProgressShown) {
            std::fputs("\r\033[K", stderr);
            std::fflush(stderr);
            ProgressShown = false;
        }
    }

    void DrawProgress(TProgressBar Bar) {
        if (!ProgressIsTerminal || Bar == pbBuffer)
            return;
        const TBarState& s = Bars[Bar];
        if (s.Max <= 0 || s.Position <= 0)
            return;
        const int percent = static_cast<int>(std::min<long long>(100, 100LL * s.Position / s.Max));
        const auto now = std::chrono::steady_clock::now();
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - Start).count();
        // Redraw only when something visible changed; the passes move a bar per byte.
        if (Bar == LastBar && percent == LastPercent && seconds == LastSeconds && ProgressShown)
            return;
        LastBar = Bar;
        LastPercent = percent;
        LastSeconds = seconds;
        static const char* const names[] = {"Verbinden", "Programmieren", "Überprüfen", ""};
        const int width = 30;
        const int filled = percent * width / 100;
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.append(static_cast<std::size_t>(width - filled), '-');
        // Pad by characters, not bytes: the umlauts of "Überprüfen" take two bytes each.
        std::string label = names[Bar];
        const auto columns =
            std::count_if(label.begin(), label.end(), [](char c) { return (c & 0xC0) != 0x80; });
        label.append(static_cast<std::size_t>(std::max<long>(0, 14 - columns)), ' ');
        std::fprintf(stderr, "\r\033[K%s [%s] %3d%%  %s", label.c_str(), bar.c_str(), percent,
                     TBootloader::DurationText(seconds * 1000).c_str());
        std::fflush(stderr);
        ProgressShown = true;
    }

    const TUpdateOptions& Options;
    std::ostream& Out;
    const bool InputIsTerminal;
    const bool ProgressIsTerminal;
    const std::chrono::steady_clock::time_point Start;
    TBootloader* Bootloader = nullptr;
    bool CancelEnabled = false;
    std::string LastHint;
    TBarState Bars[4];
    bool ProgressShown = false;
    int LastBar = -1;
    int LastPercent = -1;
    long long LastSeconds = -1;
};

// Exit status: 0 when the run ended with the success command sent, 3 when the user
// cancelled, 2 for a usage error, 1 for everything else.
int RunUpdate(const TArguments& Arguments, TCommandContext& Context) {
    if (Arguments.Operands.empty())
        throw EUsage("keine Datei angegeben");
    if (Arguments.Operands.size() > 1)
        throw EUsage("nur eine Datei erlaubt");
    TUpdateOptions options;
    options.File = Arguments.Operands.front();
    options.Port = Arguments.Value("port", "COM1");
    options.Baud = Arguments.Value("baud", "115200");
    options.Password = Arguments.Value("password", "Kiwu");
    options.Program = !Arguments.Has("no-program");
    options.Verify = !Arguments.Has("no-verify");
    options.Yes = Arguments.Has("yes");
    // The device compares the password byte by byte with what the Windows tool sends: one
    // Windows-1252 byte per character.
    if (!ArgumentToCp1252(Arguments.Value("password", "Kiwu"), options.Password))
        throw EUsage("das Passwort enthält Zeichen, die nicht in Windows-1252 darstellbar sind");
    if (options.Port.empty())
        throw EUsage("leerer Portname");
    // Only the rates of the baud-rate list: anything else would silently become another.
    if (options.Baud == "Custom" || BaudRateToText(BaudRateFromText(options.Baud)) != options.Baud)
        throw EUsage("ungültige Baudrate " + options.Baud);

    // The file first, with the messages of hexdump: a bad file must not cost the user a
    // switched-off device.
    if (!FileExists(options.File)) {
        Context.Err << FileNotFoundMessage(options.File) << "\n";
        return ExitFailure;
    }
    TBuffer image;
    std::int32_t highestAddress = 0;
    const int loaded = LoadHexFile(options.File, image, highestAddress, MaxFlashSize);
    if (loaded != HexLoaded) {
        const std::string message = LoadResultMessage(loaded);
        if (!message.empty())
            Context.Err << message << "\n";
        return ExitFailure;
    }
    Context.Err << FileLoadedMessage(options.File) << "\n";

    TMainThreadDispatcher::Instance().SetMainThread();
    const TInterruptGuard interruptGuard(OnInterrupt);
    InterruptRequested = false;

    TUpdateOutcome outcome;
    bool questionInterrupted = false;
    {
        TComPort port;
        TCliOwner owner(options, Context.Out);
        TBootloader bootloader(owner, port);
        owner.SetBootloader(&bootloader);
        bootloader.SetImage(image, highestAddress);
        outcome = bootloader.RunUpdate();
        owner.Finish();
        questionInterrupted = owner.QuestionInterrupted;
    }

    if (outcome.SuccessSent)
        return ExitSuccess;
    // Ctrl-C at the warning question stops the run before it connects.
    if (outcome.Cancelled || (questionInterrupted && !outcome.Connected))
        return ExitCancelled;
    return ExitFailure;
}

}  // namespace

const TCommand UpdateCommand{
    "update",
    "DATEI",
    "Firmware über den Bootloader des Geräts programmieren und überprüfen",
    {
        {"port", "NAME", "serielle Schnittstelle (Vorgabe COM1; auch ein Pfad wie /dev/ttyUSB0)"},
        {"baud", "RATE", "Baudrate (Vorgabe 115200)"},
        {"password", "TEXT", "Bootloader-Passwort (Vorgabe Kiwu)"},
        {"no-program", "", "nicht programmieren"},
        {"no-verify", "", "nicht überprüfen"},
        {"yes", "", "beide Fragen mit Ja beantworten und bei Hinweisen nicht warten"},
    },
    RunUpdate,
};

}  // namespace tarnwick::cli
