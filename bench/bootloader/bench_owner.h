// What the protocol benchmarks share: an owner that pumps as tarnwick-cli does.
#pragma once

#include <algorithm>
#include <chrono>
#include <string>

#include "bootloader/bootloader.h"
#include "comport/main_thread_dispatcher.h"
#include "process_cpu.h"

namespace tarnwick::bench {

// The CLI's way of pumping: run hand-overs, else sleep about a millisecond, or up to 10 ms
// where the protocol says nothing is due before then.
class TQuietOwner : public TUpdateOwner {
  public:
    void ReportMessage(const std::string&, bool, bool, bool) override {}
    void FlashHint(bool, const std::string&, int) override {}
    void ShowNotice(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return false; }
    void ClearInfo() override {}
    void SetProgressMax(TProgressBar, int) override {}
    void SetProgressPosition(TProgressBar, int) override {}
    std::string PasswordText() const override { return "Kiwu"; }
    std::string PortText() const override { return ""; }
    std::string BaudText() const override { return "115200"; }
    bool ProgramTicked() const override { return true; }
    bool VerifyTicked() const override { return true; }
    void SetInputsEnabled(bool) override {}
    void SetStartButton(bool, const std::string&) override {}
    void SetCancelEnabled(bool) override {}
    void SetStayOnTop(bool) override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    void ProcessMessages() override {
        TMainThreadDispatcher::Instance().WaitAndRunPending(std::chrono::milliseconds(1));
    }
    void ProcessMessagesFor(int MaxWaitMs) override {
        TMainThreadDispatcher::Instance().WaitAndRunPending(
            std::chrono::milliseconds(std::clamp(MaxWaitMs, 1, 10)));
    }
};

}  // namespace tarnwick::bench
