// The owner of one device's update run in tarnwick-cli: it turns the run's messages,
// questions and progress into lines of its console, and Ctrl-C into the cancel button.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <string>

#include "bootloader/bootloader.h"
#include "update_run.h"

namespace tarnwick::cli {

class TCliOwner : public TUpdateOwner {
  public:
    TCliOwner(const TUpdateOptions& Options, const std::string& Port, TUpdateConsole& Console,
              std::atomic<bool>& Interrupt);

    void SetBootloader(TBootloader* Value) { Bootloader = Value; }

    void ReportMessage(const std::string& Text, bool ShowBox, bool ToInfo, bool ToLog) override;
    void FlashHint(bool Show, const std::string& Text, int IntervalMs) override;
    void ShowNotice(const std::string& Text) override;
    bool AskYesNo(const std::string& Text) override;
    void ClearInfo() override {}

    void SetProgressMax(TProgressBar Bar, int Max) override;
    void SetProgressPosition(TProgressBar Bar, int Position) override;

    std::string PasswordText() const override { return Options.Password; }
    std::string PortText() const override { return Port; }
    std::string BaudText() const override { return Options.Baud; }
    bool ProgramTicked() const override { return Options.Program; }
    bool VerifyTicked() const override { return Options.Verify; }

    void SetInputsEnabled(bool) override {}
    void SetStartButton(bool, const std::string&) override {}
    void SetCancelEnabled(bool Enabled) override { CancelEnabled = Enabled; }
    void SetStayOnTop(bool) override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}

    void ProcessMessages() override;
    void ProcessMessagesFor(int MaxWaitMs) override;

    // Hides the progress line at the end of the run.
    void Finish();
    // The last message that went to the log: in a failed run, what went wrong.
    const std::string& LastLogMessage() const { return LastLog; }

  private:
    struct TBarState {
        int Max = 0;
        int Position = 0;
    };

    void PrintLine(const std::string& Text);
    void DrawProgress(TProgressBar Bar);
    void TakeInterrupt();

    const TUpdateOptions& Options;
    const std::string Port;
    TUpdateConsole& Console;
    std::atomic<bool>& Interrupt;
    const std::chrono::steady_clock::time_point Start;
    TBootloader* Bootloader = nullptr;
    bool CancelEnabled = false;
    std::string LastHint;
    std::string LastLog;
    std::array<TBarState, 4> Bars{};
    bool ProgressShown = false;
    int LastBar = -1;
    int LastPercent = -1;
    long long LastSeconds = -1;
};

}  // namespace tarnwick::cli
