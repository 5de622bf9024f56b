// tarnwick-cli update: a whole firmware update from the command line.
//
// The update run is the one of the main window; this file only plays its owner: messages
// go to standard output one per line, questions and notices to the terminal, progress to
// standard error when that is a terminal, and Ctrl-C asks to cancel.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "comport/com_port.h"
#include "comport/main_thread_dispatcher.h"
#include "image/firmware_image.h"

namespace tarnwick {

namespace {

std::atomic<bool> InterruptRequested{false};

void OnInterrupt(int) {
    InterruptRequested = true;
}

struct TUpdateOptions {
    std::string Port = "COM1";
    std::string Baud = "115200";
    std::string Password = "Kiwu";
    bool Program = true;
    bool Verify = true;
    bool Yes = false;
    std::string File;
};

const char* const UpdateUsage =
    "Aufruf: tarnwick-cli update [--port NAME] [--baud RATE] [--password TEXT]\n"
    "                            [--no-program] [--no-verify] [--yes] DATEI\n";

// Returns false (after a message on standard error) for a usage error.
bool ParseUpdateOptions(const std::vector<std::string>& Args, TUpdateOptions& Options) {
    for (std::size_t i = 0; i < Args.size(); ++i) {
        const std::string& a = Args[i];
        auto value = [&](std::string& Target) {
            if (i + 1 >= Args.size()) {
                std::cerr << "tarnwick-cli update: " << a << " braucht einen Wert\n";
                return false;
            }
            Target = Args[++i];
            return true;
        };
        if (a == "--port") {
            if (!value(Options.Port))
                return false;
        } else if (a == "--baud") {
            if (!value(Options.Baud))
                return false;
        } else if (a == "--password") {
            if (!value(Options.Password))
                return false;
        } else if (a == "--no-program") {
            Options.Program = false;
        } else if (a == "--no-verify") {
            Options.Verify = false;
        } else if (a == "--yes") {
            Options.Yes = true;
        } else if (a.size() > 1 && a[0] == '-') {
            std::cerr << "tarnwick-cli update: unbekannte Option " << a << "\n";
            return false;
        } else if (Options.File.empty()) {
            Options.File = a;
        } else {
            std::cerr << "tarnwick-cli update: nur eine Datei angeben\n";
            return false;
        }
    }
    if (Options.File.empty()) {
        std::cerr << "tarnwick-cli update: keine Datei angegeben\n";
        return false;
    }
    if (Options.Port.empty()) {
        std::cerr << "tarnwick-cli update: leerer Portname\n";
        return false;
    }
    // Only the rates of the baud-rate list are offered; anything else would silently be
    // taken as some other rate.
    if (Options.Baud == "Custom" ||
        BaudRateToText(BaudRateFromText(Options.Baud)) != Options.Baud) {
        std::cerr << "tarnwick-cli update: ungültige Baudrate " << Options.Baud << "\n";
        return false;
    }
    return true;
}

class TCliOwner : public TUpdateOwner {
  public:
    explicit TCliOwner(const TUpdateOptions& AOptions)
        : Options(AOptions),
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
        std::cout << "Weiter mit Eingabetaste ... " << std::flush;
        std::string line;
        std::getline(std::cin, line);
        std::cin.clear();
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
        std::cout << OneLine(Text) << " (j/N) " << std::flush;
        std::string line;
        std::getline(std::cin, line);
        std::cin.clear();
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

    void PrintLine(const std::string& Text) {
        ClearProgress();
        std::cout << Text << '\n' << std::flush;
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
        std::fprintf(stderr, "\r\033[K%-14s [%s] %3d%%  %s", names[Bar], bar.c_str(), percent,
                     TBootloader::DurationText(seconds * 1000).c_str());
        std::fflush(stderr);
        ProgressShown = true;
    }

    const TUpdateOptions& Options;
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

}  // namespace

// Exit status: 0 when the run ended with the success command sent, 3 when the user
// cancelled, 2 for a usage error, 1 for everything else.
int UpdateCommand(const std::vector<std::string>& Args) {
    TUpdateOptions options;
    if (!ParseUpdateOptions(Args, options)) {
        std::cerr << UpdateUsage;
        return 2;
    }

    // The file first: a bad file must not cost the user a switched-off device.
    if (!std::filesystem::exists(options.File)) {
        std::cerr << FileNotFoundMessage(options.File) << '\n';
        return 1;
    }
    TBuffer image;
    std::int32_t highestAddress = 0;
    const int loaded = LoadHexFile(options.File, image, highestAddress, MaxFlashSize);
    if (loaded != HexLoaded) {
        const std::string message = LoadResultMessage(loaded);
        std::cerr << (message.empty() ? "Datei unvollständig: " + options.File : message) << '\n';
        return 1;
    }
    std::cout << FileLoadedMessage(options.File) << '\n' << std::flush;

    TMainThreadDispatcher::Instance().SetMainThread();
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    struct sigaction oldInt {};
    struct sigaction oldTerm {};
    sigaction(SIGINT, &sa, &oldInt);
    sigaction(SIGTERM, &sa, &oldTerm);
    InterruptRequested = false;

    TUpdateOutcome outcome;
    {
        TComPort port;
        TCliOwner owner(options);
        TBootloader bootloader(owner, port);
        owner.SetBootloader(&bootloader);
        bootloader.SetImage(image, highestAddress);
        outcome = bootloader.RunUpdate();
        owner.Finish();
    }
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);

    if (outcome.SuccessSent)
        return 0;
    if (outcome.Cancelled)
        return 3;
    return 1;
}

}  // namespace tarnwick
