// What the bootloader core needs from the one who holds it: the main window, the CLI or a
// test. Everything the user sees or enters during an update goes through here.
#pragma once

#include <string>

namespace tarnwick {

enum TProgressBar : int { pbConnect, pbProgram, pbVerify, pbBuffer };

class TUpdateOwner {
  public:
    virtual ~TUpdateOwner() = default;

    // A message to the log and/or the information box, optionally also in a modal box
    // titled "Tarnwick - Hinweis".
    virtual void ReportMessage(const std::string& Text, bool ShowBox, bool ToInfo, bool ToLog) = 0;
    // Shows (blinking every IntervalMs) or hides the red hint.
    virtual void FlashHint(bool Show, const std::string& Text, int IntervalMs) = 0;
    // A plain notice with an OK button; returns when the user closed it.
    virtual void ShowNotice(const std::string& Text) = 0;
    // A Yes/No question titled "Tarnwick"; true only for Yes.
    virtual bool AskYesNo(const std::string& Text) = 0;
    virtual void ClearInfo() = 0;

    virtual void SetProgressMax(TProgressBar Bar, int Max) = 0;
    virtual void SetProgressPosition(TProgressBar Bar, int Position) = 0;

    // The inputs of an update.
    virtual std::string PasswordText() const = 0;
    virtual std::string PortText() const = 0;
    virtual std::string BaudText() const = 0;
    virtual bool ProgramTicked() const = 0;
    virtual bool VerifyTicked() const = 0;

    // The file, password, baud, port, program/verify and view inputs as one group.
    virtual void SetInputsEnabled(bool Enabled) = 0;
    virtual void SetStartButton(bool Enabled, const std::string& Caption) = 0;
    // While enabled, the user may ask to cancel (TBootloader::CancelButtonClick).
    virtual void SetCancelEnabled(bool Enabled) = 0;
    virtual void SetStayOnTop(bool OnTop) = 0;
    // Hourglass on; EndWaitCursor restores what was shown before.
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;

    // Handles pending events (port hand-overs, the cancel request, repaints). When nothing
    // is pending it sleeps until something arrives or about a millisecond has passed, so
    // that waiting loops built on it never spin.
    virtual void ProcessMessages() = 0;
    // ProcessMessages for a caller that only looks at flags which pending events change
    // and has nothing else to do for MaxWaitMs ms: an owner whose hand-overs (and cancel
    // requests, within a few ms) wake it may sleep that long when nothing is pending. The
    // default pumps once, as ProcessMessages does.
    virtual void ProcessMessagesFor(int MaxWaitMs) {
        static_cast<void>(MaxWaitMs);
        ProcessMessages();
    }
};

}  // namespace tarnwick
