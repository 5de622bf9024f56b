// The window's transfer speed: its drop-down list (automatisch, wie spezifiziert, schnell)
// and the two Settings.ini keys behind it. "BytePacing" keeps the meaning it always had, the
// ms per image byte (0: line speed); "AutoLineSpeed" (new, default 1) adds line speed for a
// device that says it is a Tarnwick bootloader. A file without the new key, written before
// the window had the list, so runs every device without the mark as before.
#pragma once

#include <string>
#include <vector>

#include "bootloader/protocol_codes.h"

namespace tarnwick {

struct TTransferChoice {
    bool AutoLineSpeed = true;
    int BytePacing = DefaultBytePacing;  // 0 to DefaultBytePacing

    friend bool operator==(const TTransferChoice&, const TTransferChoice&) = default;
};

// "automatisch", "wie spezifiziert", "schnell"; a pacing set by hand in the file (1 to 49
// ms without AutoLineSpeed) gets a fourth item, "N ms je Byte", so that the list shows it.
std::vector<std::string> TransferItems(const TTransferChoice& Choice);
int TransferItemIndex(const TTransferChoice& Choice);

// The choice after the user picked Index of TransferItems(Read), where Read is what the
// file held when the list was filled. Picking the item Current shows changes nothing.
TTransferChoice PickTransferItem(const TTransferChoice& Read, const TTransferChoice& Current,
                                 int Index);

}  // namespace tarnwick
