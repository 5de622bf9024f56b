#include "transfer_choice.h"

namespace tarnwick {

namespace {

enum : int { AutomaticItem, PacedItem, FastItem, HandPacingItem };

bool HandPacing(const TTransferChoice& Choice) {
    return !Choice.AutoLineSpeed && Choice.BytePacing > 0 && Choice.BytePacing < DefaultBytePacing;
}

}  // namespace

std::vector<std::string> TransferItems(const TTransferChoice& Choice) {
    std::vector<std::string> items = {"automatisch", "wie spezifiziert", "schnell"};
    if (HandPacing(Choice))
        items.push_back(std::to_string(Choice.BytePacing) + " ms je Byte");
    return items;
}

int TransferItemIndex(const TTransferChoice& Choice) {
    // Line speed for every device leaves nothing to decide.
    if (Choice.BytePacing <= 0)
        return FastItem;
    if (Choice.AutoLineSpeed)
        return AutomaticItem;
    return HandPacing(Choice) ? HandPacingItem : PacedItem;
}

TTransferChoice PickTransferItem(const TTransferChoice& Read, const TTransferChoice& Current,
                                 int Index) {
    if (Index == TransferItemIndex(Current))
        return Current;
    switch (Index) {
        case AutomaticItem:
            return {true, DefaultBytePacing};
        case PacedItem:
            return {false, DefaultBytePacing};
        case FastItem:
            return {false, 0};
        case HandPacingItem:
            if (HandPacing(Read))
                return Read;
            break;
        default:
            break;
    }
    return Current;
}

}  // namespace tarnwick
