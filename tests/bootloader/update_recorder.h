// An update owner for the tests: records everything a run shows and answers its
// questions from a script.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "bootloader/update_owner.h"
#include "comport/main_thread_dispatcher.h"

namespace tarnwick::test {

class TRecorder : public TUpdateOwner {
  public:
    std::string Password = "Kiwu";
    std::string Port;
    std::string Baud = "115200";
    bool Program = true;
    bool Verify = true;
    std::vector<bool> Answers = {true};  // warning question first; missing answers are No
    int CancelAtProgramPosition = -1;
    TBootloader* Bootloader = nullptr;
    std::function<void(TProgressBar, int)> OnProgress;

    std::vector<std::string> Messages;  // "[BIL]text" with '-' for a flag not set
    std::vector<std::string> Dialogs;   // notices and questions, in order
    std::vector<std::string> Hints;
    bool CancelEnabled = false;
    bool InputsEnabled = true;

    void ReportMessage(const std::string& Text, bool ShowBox, bool ToInfo, bool ToLog) override {
        std::string flags = "[";
        flags += ShowBox ? 'B' : '-';
        flags += ToInfo ? 'I' : '-';
        flags += ToLog ? 'L' : '-';
        Messages.push_back(flags + "]" + Text);
    }
    void FlashHint(bool Show, const std::string& Text, int) override {
        Hints.push_back(Show ? Text : "-");
    }
    void ShowNotice(const std::string& Text) override { Dialogs.push_back("notice: " + Text); }
    bool AskYesNo(const std::string& Text) override {
        Dialogs.push_back("ask: " + Text.substr(0, Text.find('\n')));
        const bool answer = Asked < Answers.size() && Answers[Asked];
        ++Asked;
        return answer;
    }
    void ClearInfo() override {}
    void SetProgressMax(TProgressBar, int) override {}
    void SetProgressPosition(TProgressBar Bar, int Position) override {
        if (OnProgress)
            OnProgress(Bar, Position);
        if (Bar == pbProgram && Position == CancelAtProgramPosition && CancelEnabled &&
            Bootloader != nullptr) {
            Bootloader->CancelButtonClick();
        }
    }
    std::string PasswordText() const override { return Password; }
    std::string PortText() const override { return Port; }
    std::string BaudText() const override { return Baud; }
    bool ProgramTicked() const override { return Program; }
    bool VerifyTicked() const override { return Verify; }
    void SetInputsEnabled(bool Enabled) override { InputsEnabled = Enabled; }
    void SetStartButton(bool, const std::string&) override {}
    void SetCancelEnabled(bool Enabled) override { CancelEnabled = Enabled; }
    void SetStayOnTop(bool) override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    void ProcessMessages() override {
        TMainThreadDispatcher::Instance().WaitAndRunPending(std::chrono::milliseconds(1));
    }

  private:
    std::size_t Asked = 0;
};

}  // namespace tarnwick::test
