#include "window_layout.h"

#include <iterator>

namespace tarnwick {

namespace {

using K = TControlKind;

// Labels of edits and boxes sit 16 pixels above them, their height that of one line.
constexpr int LabelHeight = 13;

}  // namespace

const TControlPlace ControlPlaces[] = {
    {idSettingsGroupBox, K::GroupBox, idSettingsGroupBox, 8, 8, 326, 105,
     L" Verbindungseinstellungen "},
    {idPasswordEditLabel, K::Label, idSettingsGroupBox, 135, 60, 178, LabelHeight,
     L"Bootloader-Passwort"},
    {idPasswordEdit, K::Edit, idSettingsGroupBox, 135, 76, 178, 21, L""},
    {idLabel2, K::Label, idSettingsGroupBox, 8, 59, 121, LabelHeight, L"Baudrate"},
    {idBaudComboBox, K::DropDownList, idSettingsGroupBox, 8, 76, 121, 21, L""},
    {idLabel1, K::Label, idSettingsGroupBox, 8, 16, 305, LabelHeight, L"Port"},
    {idComComboBox, K::EditableCombo, idSettingsGroupBox, 8, 32, 305, 21, L""},

    {idUpdateGroupBox, K::GroupBox, idUpdateGroupBox, 8, 119, 326, 218, L" Update "},
    {idSelectInBtn, K::Button, idUpdateGroupBox, 240, 29, 73, 30, L"Auswählen"},
    {idFilenameInEditLabel, K::Label, idUpdateGroupBox, 8, 17, 226, LabelHeight, L"Firmware-Datei"},
    {idFilenameInEdit, K::Edit, idUpdateGroupBox, 8, 33, 226, 21, L""},
    {idStartBtn, K::Button, idUpdateGroupBox, 13, 174, 145, 33, L"Update starten!"},
    {idProgramChkBox, K::CheckBox, idUpdateGroupBox, 8, 107, 161, 25, L"Programmieren"},
    {idVerifyChkBox, K::CheckBox, idUpdateGroupBox, 8, 130, 161, 25, L"Überprüfen"},
    {idShowProgramChkBox, K::CheckBox, idUpdateGroupBox, 8, 60, 161, 25, L"Programm anzeigen"},
    {idShowCompleteMemoryChkBox, K::CheckBox, idUpdateGroupBox, 24, 84, 289, 25,
     L"Kompletten Speicher anzeigen"},
    {idCancelButton, K::Button, idUpdateGroupBox, 168, 174, 145, 33, L"Abbrechen"},
    // Beside the specified controls, in the column right of "Programmieren" and "Überprüfen"
    // that the form leaves free.
    {idNoPowerCycleChkBox, K::CheckBox, idUpdateGroupBox, 170, 60, 150, 25,
     L"Ohne Aus-/Einschalten"},
    {idTransferLabel, K::Label, idUpdateGroupBox, 170, 113, 143, LabelHeight, L"Übertragung"},
    {idTransferComboBox, K::DropDownList, idUpdateGroupBox, 170, 130, 143, 21, L""},

    {idStatusGroupBox, K::GroupBox, idStatusGroupBox, 8, 343, 703, 149, L" Status "},
    {idLabel3, K::Label, idStatusGroupBox, 8, 21, 120, LabelHeight, L"Verbinden"},
    {idConnectProgressBar, K::ProgressBar, idStatusGroupBox, 8, 40, 685, 17, L""},
    {idLabel4, K::Label, idStatusGroupBox, 8, 63, 120, LabelHeight, L"Programmieren"},
    {idProgramProgressBar, K::ProgressBar, idStatusGroupBox, 8, 82, 619, 17, L""},
    {idLabel6, K::Label, idStatusGroupBox, 8, 105, 120, LabelHeight, L"Überprüfen"},
    {idVerifyProgressBar, K::ProgressBar, idStatusGroupBox, 8, 124, 685, 17, L""},
    {idLabel5, K::Label, idStatusGroupBox, 633, 63, 60, LabelHeight, L"Sendepuffer"},
    {idBufferProgressBar, K::ProgressBar, idStatusGroupBox, 633, 82, 60, 17, L""},

    {idInfoGroupBox, K::GroupBox, idInfoGroupBox, 340, 8, 371, 329, L" Informationen "},
    {idHintLabel, K::HintLabel, idInfoGroupBox, 16, 20, 115, 23, L"Hinweistext"},
    {idInfoMemo, K::InfoMemo, idInfoGroupBox, 8, 56, 353, 156, L""},
    {idLogMemo, K::LogMemo, idInfoGroupBox, 8, 218, 353, 95, L""},

    {idProgramGroupBox, K::GroupBox, idProgramGroupBox, 8, 498, 703, 287, L" Programm "},
    {idProgramGrid, K::ProgramView, idProgramGroupBox, 8, 24, 685, 233, L""},
    {idShowProgramProgressBar, K::ProgressBar, idProgramGroupBox, 8, 263, 685, 17, L""},
};
const int ControlPlaceCount = static_cast<int>(std::size(ControlPlaces));

const TControlPlace& PlaceOf(TControlId Id) {
    for (const TControlPlace& place : ControlPlaces) {
        if (place.Id == Id)
            return place;
    }
    return ControlPlaces[0];
}

RECT ClientRectOf(const TControlPlace& Place) {
    int left = Place.Left;
    int top = Place.Top;
    if (Place.Group != Place.Id) {
        const TControlPlace& group = PlaceOf(Place.Group);
        left += group.Left;
        top += group.Top;
    }
    return RECT{left, top, left + Place.Width, top + Place.Height};
}

}  // namespace tarnwick
