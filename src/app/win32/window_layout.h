// Where every control of the Windows window sits: the form's layout in pixels at 96 dpi,
// positions relative to their group box as the form gives them, and the control ids.
#pragma once

#include <windows.h>

namespace tarnwick {

inline constexpr int ClientWidth = 719;
inline constexpr int ClientHeight = 809;  // with the program view shown
inline constexpr int ProgramGroupHeight = 287;

// Control ids; a probe of the window (the Wine test's) finds controls by them.
enum TControlId : int {
    idSettingsGroupBox = 100,
    idPasswordEditLabel,
    idPasswordEdit,
    idLabel2,
    idBaudComboBox,
    idLabel1,
    idComComboBox,
    idUpdateGroupBox = 200,
    idSelectInBtn,
    idFilenameInEditLabel,
    idFilenameInEdit,
    idStartBtn,
    idProgramChkBox,
    idVerifyChkBox,
    idShowProgramChkBox,
    idShowCompleteMemoryChkBox,
    idCancelButton,
    idNoPowerCycleChkBox,
    idTransferLabel,
    idTransferComboBox,
    idStatusGroupBox = 300,
    idLabel3,
    idConnectProgressBar,
    idLabel4,
    idProgramProgressBar,
    idLabel6,
    idVerifyProgressBar,
    idLabel5,
    idBufferProgressBar,
    idInfoGroupBox = 400,
    idHintLabel,
    idInfoMemo,
    idLogMemo,
    idProgramGroupBox = 500,
    idProgramGrid,
    idShowProgramProgressBar,
};

enum class TControlKind {
    GroupBox,
    Label,
    Edit,
    DropDownList,
    EditableCombo,
    Button,
    CheckBox,
    ProgressBar,
    InfoMemo,
    LogMemo,
    HintLabel,
    ProgramView
};

struct TControlPlace {
    TControlId Id;
    TControlKind Kind;
    TControlId Group;  // the group box the position is relative to; itself for a group
    int Left, Top, Width, Height;
    const wchar_t* Caption;
};

// Every control in creation order, which is also the tab order: the groups in the
// form's order, each followed by its controls in their tab order.
extern const TControlPlace ControlPlaces[];
extern const int ControlPlaceCount;

const TControlPlace& PlaceOf(TControlId Id);
// The place in client coordinates.
RECT ClientRectOf(const TControlPlace& Place);

}  // namespace tarnwick
