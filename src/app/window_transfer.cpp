// The transfer speed and the power cycle: read from Settings.ini into the bootloader and
// their two controls, changed by the user, written back at close.
#include <algorithm>
#include <string>
#include <vector>

#include "window_behaviour.h"

namespace tarnwick {

namespace {

constexpr const char* Section = "Updater";

}  // namespace

void TWindowBehaviour::RestoreTransfer(const TIniFile& Settings) {
    TransferRead.AutoLineSpeed = Settings.ReadBool(Section, "AutoLineSpeed", true);
    TransferRead.BytePacing = std::clamp(
        Settings.ReadInteger(Section, "BytePacing", DefaultBytePacing), 0, DefaultBytePacing);
    Bootloader.AutoLineSpeed = TransferRead.AutoLineSpeed;
    Bootloader.BytePacing = TransferRead.BytePacing;
    View.SetItems(TControl::TransferComboBox, TransferItems(TransferRead));
    View.SetItemIndex(TControl::TransferComboBox, TransferItemIndex(TransferRead));
    // 0 for a device switched on or reset by other means.
    Bootloader.PowerCycle = Settings.ReadBool(Section, "PowerCycle", true);
    View.SetChecked(TControl::NoPowerCycleChkBox, !Bootloader.PowerCycle);
}

void TWindowBehaviour::WriteTransfer(TIniFile& Settings) const {
    Settings.WriteInteger(Section, "BytePacing", Bootloader.BytePacing);
    Settings.WriteBool(Section, "PowerCycle", Bootloader.PowerCycle);
    Settings.WriteBool(Section, "AutoLineSpeed", Bootloader.AutoLineSpeed);
}

void TWindowBehaviour::TransferComboBoxChange() {
    const std::vector<std::string> items = TransferItems(TransferRead);
    const auto found = std::find(items.begin(), items.end(), View.Text(TControl::TransferComboBox));
    if (found == items.end())
        return;
    const TTransferChoice chosen =
        PickTransferItem(TransferRead, {Bootloader.AutoLineSpeed, Bootloader.BytePacing},
                         static_cast<int>(found - items.begin()));
    Bootloader.AutoLineSpeed = chosen.AutoLineSpeed;
    Bootloader.BytePacing = chosen.BytePacing;
}

void TWindowBehaviour::NoPowerCycleChkBoxClick() {
    Bootloader.PowerCycle = !View.Checked(TControl::NoPowerCycleChkBox);
}

}  // namespace tarnwick
