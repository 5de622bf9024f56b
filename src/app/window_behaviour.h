// What the main window does, written once for every toolkit: start-up and shutdown in
// their order, the eight settings restored and written back, a load on every change of
// the file name, the program view refilled, and the update run's owner side (captions,
// enabled states, bars, the hint, stay-on-top, hourglass). It reaches the screen only
// through a TWindowView; the Qt window and the Win32 window are such views.
//
// The view forwards the user's actions to the handlers below, named after the form's
// handlers. Everything runs on the main thread.
//
// The hidden terminal: the window keeps a terminal core linked to the port, never shown.
// Its link is what makes the port read received bytes; it also answers terminal queries
// found in them, except while an update runs, when nothing but the protocol's bytes may
// go on the line. A view that has a terminal control of its own (the Qt window's hidden
// ComTerminal1) passes it to the constructor; otherwise the behaviour keeps a bare
// terminal core. Either way the behaviour links it to ComPort, sets VT100/ANSI emulation
// and wires its output.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "bootloader/update_owner.h"
#include "comport/com_port.h"
#include "comport/ini_file.h"
#include "image/firmware_image.h"
#include "terminal/com_terminal_core.h"
#include "transfer_choice.h"
#include "window_view.h"

namespace tarnwick {

// (Outer - Inner) / 2, rounded to the nearest integer, halves to the even neighbour.
int CentredOffset(int Outer, int Inner);

// The file dialog's preset for the file-name field's text: without blanks at the ends and
// a pair of double quotes around it, empty when what is left holds a character no file
// name may hold.
std::string DialogPresetName(const std::string& FieldText);

class TWindowBehaviour : public TUpdateOwner {
  public:
    // View (and Terminal, when given) must outlive the behaviour.
    explicit TWindowBehaviour(TWindowView& View, TComTerminalCore* Terminal = nullptr);
    ~TWindowBehaviour() override;
    TWindowBehaviour(const TWindowBehaviour&) = delete;
    TWindowBehaviour& operator=(const TWindowBehaviour&) = delete;

    // ---- the form's handlers, called by the view
    // Once the view is built, before it is shown: centres it, resets the link state.
    void FormCreate();
    // Once, before the window first appears: port list, settings, the start-up timer.
    void FormShow();
    // Whether the window may close now. Refused without a word while an update runs; put
    // off while a file loads, the program view fills or a box of the window is open (the
    // work runs against the window's controls): the window then closes once that is over.
    bool FormCloseQuery();
    // The window closes: the settings are written back.
    void FormClose();
    // The session is about to end (logoff, shutdown): false while an update runs, which
    // must not be cut off half-way; the view then refuses and gives the system the
    // reason it was told (SetSessionEndBlock).
    bool QueryEndSession();
    // The session ends (Ending) or goes on after all. An ending one saves the settings,
    // as a close would; the program may be ended without a close.
    void EndSession(bool Ending);

    // ---- timers
    void StartupTimerTimer();
    void HintFlashTimerTimer();

    // ---- the user's actions
    void FilenameInEditChange();
    void SelectInBtnClick();
    // Refused while an update runs, while a file loads or the program view is refilled,
    // and while no image is loaded.
    void StartBtnClick();
    void CancelButtonClick();
    void ProgramChkBoxClick();
    void VerifyChkBoxClick();
    void ShowProgramChkBoxClick();
    void ShowCompleteMemoryChkBoxClick();
    // The transfer speed and the power cycle (window_transfer.cpp).
    void TransferComboBoxChange();
    void NoPowerCycleChkBoxClick();

    // ---- the window's two output operations
    // To the log and/or the information box, optionally in a box "Tarnwick - Hinweis".
    void ReportMessage(const std::string& Text, bool ShowBox, bool ToInfo, bool ToLog) override;
    // Shows the hint (blinking every IntervalMs) or hides it and stops the blinking.
    void FlashHint(bool Show, const std::string& Text, int IntervalMs) override;

    // Refills the program view from the image (the whole image when Complete).
    void FillProgramGrid(bool Complete);

    // ---- TUpdateOwner: the update run reaches the window here
    void ShowNotice(const std::string& Text) override;
    bool AskYesNo(const std::string& Text) override;
    void ClearInfo() override;
    void SetProgressMax(TProgressBar Bar, int Max) override;
    void SetProgressPosition(TProgressBar Bar, int Position) override;
    std::string PasswordText() const override;
    std::string PortText() const override;
    std::string BaudText() const override;
    bool ProgramTicked() const override;
    bool VerifyTicked() const override;
    void SetInputsEnabled(bool Enabled) override;
    void SetStartButton(bool Enabled, const std::string& Caption) override;
    void SetCancelEnabled(bool Enabled) override;
    void SetStayOnTop(bool OnTop) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    void ProcessMessages() override;
    void ProcessMessagesFor(int MaxWaitMs) override;

    // ---- state
    bool UpdateRunning() const { return Bootloader.UpdateRunning; }
    // A file is being loaded, the program view refilled or an update runs.
    bool Busy() const { return BusyFlag; }
    // The last load succeeded: "Update starten!" may run.
    bool ImageLoaded() const { return Loaded; }
    bool HintVisible() const { return HintShown; }
    TComTerminalCore& Terminal() { return *TerminalCore; }

    // The firmware image and the highest address its last load wrote.
    TBuffer Image;
    std::int32_t HighestAddress = 0;
    // The port of the updates and the protocol state that drives it.
    TComPort ComPort;
    TBootloader Bootloader;

    // ---- set by the program before the window is shown
    // Settings.ini: found by FormShow when empty (next to the program when that works,
    // else in the user's configuration folder).
    std::filesystem::path SettingsPath;
    // Where Settings.ini is looked for first; the view's ProgramFolder when empty.
    std::filesystem::path ExecutableFolder;
    // A firmware file named on the command line (UTF-8, made absolute by
    // ParseWindowArguments); loaded instead of the saved one.
    std::string StartupFileName;
    // The serial ports offered in the port box, in list order.
    std::function<std::vector<std::string>()> PortList;
    // Settings.ini's LogFile: every update's record is appended there; empty: none.
    std::filesystem::path AttemptLog;

  private:
    class TLoaderFeedback;

    // Marks loads, fills and update runs for their lifetime, also when an exception
    // passes. With LockStart the start button is disabled meanwhile and then shows
    // again whether an image is loaded.
    class TBusyScope {
      public:
        TBusyScope(TWindowBehaviour& Behaviour, bool LockStart);
        ~TBusyScope();
        TBusyScope(const TBusyScope&) = delete;
        TBusyScope& operator=(const TBusyScope&) = delete;

      private:
        TWindowBehaviour& Owner;
        bool Lock;
    };

    // The hourglass for its lifetime.
    class TWaitCursorScope {
      public:
        explicit TWaitCursorScope(TWindowBehaviour& Behaviour) : Owner(Behaviour) {
            Owner.BeginWaitCursor();
        }
        ~TWaitCursorScope() { Owner.EndWaitCursor(); }
        TWaitCursorScope(const TWaitCursorScope&) = delete;
        TWaitCursorScope& operator=(const TWaitCursorScope&) = delete;

      private:
        TWindowBehaviour& Owner;
    };

    void SetUpPort();
    // The update run, and its record when AttemptLog names a file (window_record.cpp).
    void RunRecordedUpdate();
    // Ticks a box as the settings say and runs its handler when its state changed.
    void RestoreCheck(TControl Box, bool Checked);
    void FillPortBox(const std::vector<std::string>& Ports, const TIniFile& Settings);
    // BytePacing, AutoLineSpeed and PowerCycle: into the bootloader and their controls, and
    // back into the file.
    void RestoreTransfer(const TIniFile& Settings);
    void WriteTransfer(TIniFile& Settings) const;
    void WriteSettings();

    // Loads and fills pump events; a request that arrives meanwhile (a keystroke, a
    // ticked box) is remembered and served once the running one ends, so the image is
    // never reloaded under a running load or fill.
    void LoadFromField();
    void RefillIfLoaded();
    void RunPendingWork();
    void ShowStartState();

    void ShowBar(TProgressBar Which);
    // Every bar the window shows goes through here: within 0..Max, Max at least 1.
    void SetBarClamped(TControl Bar, int Position, int Max);
    void PlaceHint(const std::string& Text);

    // The window's modal dialogs: the arrow instead of the hourglass while one is open,
    // and a close asked for meanwhile put off until it is answered.
    class TDialogScope {
      public:
        explicit TDialogScope(TWindowBehaviour& Behaviour);
        ~TDialogScope();
        TDialogScope(const TDialogScope&) = delete;
        TDialogScope& operator=(const TDialogScope&) = delete;

      private:
        TWindowBehaviour& Owner;
    };
    void Box(TBoxKind Kind, const std::string& Text);
    bool Question(const std::string& Text);
    // A close put off by FormCloseQuery, asked for again once nothing holds it back.
    void CloseIfDeferred();

    TWindowView& View;
    std::unique_ptr<TComTerminalCore> OwnTerminal;
    TComTerminalCore* TerminalCore;

    std::unique_ptr<TIniFile> SettingsFile;
    // The transfer speed the file held: TransferComboBox's items were made from it.
    TTransferChoice TransferRead;
    // The file existed but could not be read at start: it is left as it is.
    bool SettingsUnreadable = false;

    bool BusyFlag = false;
    bool LoadPending = false;
    bool FillPending = false;
    bool Loaded = false;
    bool HintShown = false;
    int WaitDepth = 0;
    int DialogDepth = 0;
    bool CloseDeferred = false;

    // What each update bar was last told; a bar shows Position of Max, clamped.
    struct TBarState {
        int Max = 100;
        int Position = 0;
    };
    TBarState Bars[4];
};

}  // namespace tarnwick
