// Loading the firmware file named in the file-name field, the "Auswählen" dialog, the
// program view's refill, and how loads, refills and the start button keep out of each
// other's way.
#include <algorithm>
#include <exception>
#include <string>
#include <string_view>
#include <system_error>

#include "image/firmware_file.h"
#include "image/program_rows.h"
#include "system_text.h"
#include "window_behaviour.h"

namespace tarnwick {

std::string DialogPresetName(const std::string& FieldText) {
    std::string_view name = FieldText;
    const auto blank = [](char C) { return C == ' ' || C == '\t'; };
    while (!name.empty() && blank(name.front())) {
        name.remove_prefix(1);
    }
    while (!name.empty() && blank(name.back())) {
        name.remove_suffix(1);
    }
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
        name = name.substr(1, name.size() - 2);
    }
    const bool unusable = std::any_of(name.begin(), name.end(), [](char C) {
        return static_cast<unsigned char>(C) < 0x20 ||
               std::string_view("\"<>|?*").find(C) != std::string_view::npos;
    });
    return unusable ? std::string() : std::string(name);
}

// The hourglass and pumping for the HEX loader.
class TWindowBehaviour::TLoaderFeedback final : public TLoadFeedback {
  public:
    explicit TLoaderFeedback(TWindowBehaviour& Behaviour) : Owner(Behaviour) {}
    TLoaderFeedback(const TLoaderFeedback&) = delete;
    TLoaderFeedback& operator=(const TLoaderFeedback&) = delete;
    ~TLoaderFeedback() override {
        // A load that ended by an exception must not leave the hourglass behind.
        while (Waits > 0) {
            EndWait();
        }
    }
    void BeginWait() override {
        Owner.BeginWaitCursor();
        ++Waits;
    }
    void EndWait() override {
        if (Waits > 0) {
            Owner.EndWaitCursor();
            --Waits;
        }
    }
    void ProcessMessages() override { Owner.View.ProcessPendingMessages(); }

  private:
    TWindowBehaviour& Owner;
    int Waits = 0;
};

TWindowBehaviour::TBusyScope::TBusyScope(TWindowBehaviour& Behaviour, bool LockStart)
    : Owner(Behaviour), Lock(LockStart) {
    Owner.BusyFlag = true;
    if (Lock) {
        Owner.View.SetEnabled(TControl::StartBtn, false);
    }
}

TWindowBehaviour::TBusyScope::~TBusyScope() {
    Owner.BusyFlag = false;
    if (Lock) {
        Owner.ShowStartState();
    }
}

void TWindowBehaviour::ShowStartState() {
    View.SetEnabled(TControl::StartBtn, Loaded && !BusyFlag && !UpdateRunning());
}

void TWindowBehaviour::FillProgramGrid(bool Complete) {
    const std::int32_t lastAddress = LastShownAddress(Image, Complete, HighestAddress);
    const int barMax = std::max(lastAddress, 1);
    // Hidden while it fills, and shown again however the fill ends.
    struct TShowAgain {
        TWindowView& View;
        ~TShowAgain() { View.SetProgramGridVisible(true); }
    } showAgain{View};
    View.SetProgramGridVisible(false);
    SetBarClamped(TControl::ShowProgramProgressBar, 0, barMax);
    std::vector<TProgramRow> rows;
    {
        const TWaitCursorScope hourglass(*this);
        rows = BuildProgramRows(Image, Complete, HighestAddress, [&](std::int32_t Address) {
            SetBarClamped(TControl::ShowProgramProgressBar, Address, barMax);
            View.ProcessPendingMessages();
        });
    }
    View.SetProgramRows(std::move(rows));
    View.SetProgramGridVisible(true);
    SetBarClamped(TControl::ShowProgramProgressBar, 0, barMax);
}

void TWindowBehaviour::RefillIfLoaded() {
    if (BusyFlag) {
        FillPending = true;
        return;
    }
    {
        const TBusyScope busy(*this, /*LockStart=*/true);
        if (View.Checked(TControl::ShowProgramChkBox) && Loaded) {
            FillProgramGrid(View.Checked(TControl::ShowCompleteMemoryChkBox));
        }
    }
    RunPendingWork();
}

void TWindowBehaviour::FilenameInEditChange() {
    if (BusyFlag) {
        // Served with the field's latest text once the running work is done.
        LoadPending = true;
        return;
    }
    {
        const TBusyScope busy(*this, /*LockStart=*/true);
        LoadFromField();
    }
    RunPendingWork();
}

void TWindowBehaviour::RunPendingWork() {
    // However it ends, a close put off meanwhile is asked for again.
    struct TThenClose {
        TWindowBehaviour& Owner;
        ~TThenClose() { Owner.CloseIfDeferred(); }
    } thenClose{*this};
    while (LoadPending || FillPending) {
        const TBusyScope busy(*this, /*LockStart=*/true);
        if (LoadPending) {
            LoadPending = false;
            LoadFromField();
        } else {
            FillPending = false;
            if (View.Checked(TControl::ShowProgramChkBox) && Loaded) {
                FillProgramGrid(View.Checked(TControl::ShowCompleteMemoryChkBox));
            }
        }
    }
}

void TWindowBehaviour::LoadFromField() {
    const std::string typedName = View.Text(TControl::FilenameInEdit);
    // From here on the image is not the one loaded last: the loader starts by erasing it.
    Loaded = false;
    std::error_code code;
    if (!std::filesystem::is_regular_file(Utf8ToPath(typedName), code)) {
        ReportMessage(FileNotFoundMessage(typedName), true, false, true);
        return;
    }
    int result = HexIncomplete;
    try {
        TLoaderFeedback feedback(*this);
        result = LoadFirmwareImage(Utf8ToPath(typedName), Image, HighestAddress, MaxFlashSize,
                                   &feedback);
    } catch (const std::exception& error) {
        // The image may be half written: it counts as not loaded; say why.
        ReportMessage(SystemTextToUtf8(error.what()), true, false, true);
        return;
    }
    if (result == HexLoaded) {
        Loaded = true;
        if (View.Checked(TControl::ShowProgramChkBox)) {
            // A refill asked for before this fill is served by it; one asked for while
            // it runs (a box ticked meanwhile) stays pending and runs after it.
            FillPending = false;
            FillProgramGrid(View.Checked(TControl::ShowCompleteMemoryChkBox));
        }
        ReportMessage(FileLoadedMessage(typedName), false, false, true);
        return;
    }
    if (result < 0) {
        ReportMessage(FirmwareLoadMessage(result), true, false, true);
    }
}

void TWindowBehaviour::SelectInBtnClick() {
    const std::string current = View.Text(TControl::FilenameInEdit);
    std::string chosen;
    {
        const TDialogScope dialog(*this);
        // A name pasted with its quotes (Explorer's "Copy as path") or with a character no
        // file name holds would make the system's dialog fail without opening.
        if (!View.ChooseFile(DialogPresetName(current), chosen)) {
            return;
        }
    }
    // The same name again must not reload.
    if (chosen != current) {
        View.SetText(TControl::FilenameInEdit, chosen);
        FilenameInEditChange();
    }
}

}  // namespace tarnwick
