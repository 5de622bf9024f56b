// What the window's behaviour (TWindowBehaviour) needs from a toolkit: the controls by
// name, the bars, the hint, the boxes and the file dialog, the program view, two timers,
// the cursor, stay-on-top and pumping. A view draws and passes the user's actions on to
// the behaviour's handlers; it decides nothing itself.
//
// Rules every view keeps:
// - Texts are UTF-8, both ways. Lines in box texts are separated by "\n" (the behaviour
//   has turned the program's paragraph breaks into empty lines).
// - A setter called by the behaviour only changes the control. The view must not report
//   the change back as the user's (no FilenameInEditChange for SetText, no click handler
//   for SetChecked); the behaviour runs the consequences of its own changes itself.
// - The user's changes are reported: every change of FilenameInEdit's text, every toggle
//   of a check box, every item the user picks in TransferComboBox, the clicks on the three buttons,
//   the two timers' ticks, the first show and every attempt to close (see TWindowBehaviour).
// - Everything is called on the main thread, also from inside the behaviour's waits
//   (the behaviour pumps through ProcessPendingMessages and WaitForMessages).
// - No call from the behaviour's constructor: the view may still be under construction.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "image/program_rows.h"

namespace tarnwick {

// The controls the behaviour reads or changes, by their form names.
enum class TControl : int {
    PasswordEdit,              // edit
    BaudComboBox,              // drop-down list of fixed items, not editable
    ComComboBox,               // editable combo box
    SelectInBtn,               // button "Auswählen"
    FilenameInEdit,            // edit
    StartBtn,                  // button "Update starten!"
    ProgramChkBox,             // check box "Programmieren"
    VerifyChkBox,              // check box "Überprüfen"
    ShowProgramChkBox,         // check box "Programm anzeigen"
    ShowCompleteMemoryChkBox,  // check box "Kompletten Speicher anzeigen"
    CancelButton,              // button "Abbrechen"
    ConnectProgressBar,
    ProgramProgressBar,
    VerifyProgressBar,
    BufferProgressBar,
    ShowProgramProgressBar,  // below the program view
    TransferComboBox,        // drop-down list: transfer speed (automatisch, ...)
    NoPowerCycleChkBox,      // check box "Ohne Aus-/Einschalten"
};

enum class TViewTimer : int {
    HintFlashTimer,  // blinks the hint: the view calls HintFlashTimerTimer on every tick
    StartupTimer,    // once after the first show: the view calls StartupTimerTimer
};

enum class TBoxKind : int {
    Hint,    // a message of the program: title "Tarnwick - Hinweis", exclamation icon, OK
    Notice,  // a plain notice: title "Tarnwick", no icon, OK
};

class TWindowView {
  public:
    virtual ~TWindowView() = default;

    // ---- controls
    // The text of an edit or combo box (an editable one's edit text; a drop-down list's
    // selected item, empty when none is selected).
    virtual std::string Text(TControl Control) const = 0;
    // An edit's or an editable combo box's text, or a button's caption.
    virtual void SetText(TControl Control, const std::string& Text) = 0;
    virtual bool Checked(TControl Control) const = 0;
    virtual void SetChecked(TControl Control, bool Checked) = 0;
    virtual void SetEnabled(TControl Control, bool Enabled) = 0;
    // The items of a combo box. SetItems replaces them and leaves none selected (an
    // editable box keeps its edit text).
    virtual int ItemCount(TControl Control) const = 0;
    virtual std::string ItemText(TControl Control, int Index) const = 0;
    virtual void SetItems(TControl Control, const std::vector<std::string>& Items) = 0;
    // Selects an item (its text becomes the box's text); -1 selects none, which empties
    // a drop-down list.
    virtual void SetItemIndex(TControl Control, int Index) = 0;

    // ---- progress bars: Position of Max, always 0 <= Position <= Max and Max >= 1 (the
    // behaviour clamps; a view draws what it is given).
    virtual void SetBar(TControl Bar, int Position, int Max) = 0;

    // ---- information and log boxes
    // Appends a line to LogMemo and scrolls it so that the newest line is in view.
    virtual void AppendLog(const std::string& Line) = 0;
    // Appends a line to InfoMemo and scrolls it back to its first line.
    virtual void AppendInfo(const std::string& Line) = 0;
    virtual void ClearInfo() = 0;

    // ---- the red hint label
    // Sets the caption; the label takes the width of its text, which is returned.
    virtual int SetHintText(const std::string& Text) = 0;
    // The width of InfoGroupBox, in which the behaviour centres the hint.
    virtual int InfoGroupWidth() const = 0;
    // Moves the hint's left edge, relative to InfoGroupBox; its top stays.
    virtual void SetHintLeft(int Left) = 0;
    virtual void SetHintVisible(bool Visible) = 0;

    // ---- modal dialogs; each returns when the user has closed it
    virtual void ShowBox(TBoxKind Kind, const std::string& Text) = 0;
    // Title "Tarnwick", question icon, Yes and No. True only for Yes; closing is No.
    virtual bool AskYesNo(const std::string& Text) = 0;
    // The file-open dialog (filter "Intel-HEX Programmdatei", *.hex), preset with Current.
    // True with the chosen path in Chosen when the user confirmed a file.
    virtual bool ChooseFile(const std::string& Current, std::string& Chosen) = 0;

    // ---- the window
    // Centres the outer window on the primary screen (CentredOffset both ways).
    virtual void CentreOnScreen() = 0;
    // Shows or hides ProgramGroupBox; the client area becomes 719 x 809 or 719 x 522.
    // The behaviour centres the window again afterwards.
    virtual void SetProgramViewShown(bool Shown) = 0;
    virtual void SetStayOnTop(bool OnTop) = 0;
    // The hourglass on or off (the behaviour counts nested requests; a view sees one
    // true, then one false). The behaviour turns it off while a modal dialog is open.
    virtual void SetWaitCursor(bool Wait) = 0;
    // Closes the window as the user's close would, FormCloseQuery included, once the
    // call that asked has returned (posted, not at once): for a close the behaviour put
    // off while it was busy.
    virtual void RequestClose() = 0;
    // While Reason is not empty, the system is told why the session must not end now
    // (Windows shows it when a logoff or shutdown waits for the program); empty ends it.
    virtual void SetSessionEndBlock(const std::string& Reason) = 0;

    // ---- the program view (ProgramGrid)
    // Hidden while it is refilled, so that it is not redrawn row by row.
    virtual void SetProgramGridVisible(bool Visible) = 0;
    // Replaces all rows (an empty list leaves one empty row), then shows the first row
    // at the top with the selected cell in that row, in the column selected before.
    virtual void SetProgramRows(std::vector<TProgramRow> Rows) = 0;

    // ---- timers
    virtual void StartTimer(TViewTimer Timer, int IntervalMs) = 0;
    virtual void StopTimer(TViewTimer Timer) = 0;

    // ---- pumping (the port's hand-overs run in both: TMainThreadDispatcher::RunPending)
    // Handles what is pending (input, repaints, timers, hand-overs) and returns at once.
    virtual void ProcessPendingMessages() = 0;
    // Handles what is pending; when nothing is, sleeps until something arrives (a
    // hand-over from a port's thread wakes it) or MaxWaitMs have passed. May return
    // sooner (after about a millisecond); must never spin.
    virtual void WaitForMessages(int MaxWaitMs) = 0;

    // The folder of the running program, where Settings.ini is looked for first.
    virtual std::filesystem::path ProgramFolder() const = 0;
};

}  // namespace tarnwick
