// What the port list does alike on every platform: the entry text and its order.
#include "comport/port_list.h"

#include <algorithm>

namespace tarnwick {

namespace {

// Where a byte sorts, as the system locales order text: blanks and punctuation
// before digits, digits before letters, letters without regard to case (so "COM1: "
// comes before "COM10: ", and that before "COM2: "); other bytes last.
int SortKey(char C) {
    const auto c = static_cast<unsigned char>(C);
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 'a' + 0x80;
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return c + 0x80;
    return c < 0x80 ? c : c + 0x100;
}

// -1, 0 or 1. No locale of the machine is asked, so the order is the same everywhere.
int CompareFolded(std::string_view A, std::string_view B) {
    const std::size_t common = std::min(A.size(), B.size());
    for (std::size_t i = 0; i < common; ++i) {
        const int a = SortKey(A[i]);
        const int b = SortKey(B[i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    return A.size() == B.size() ? 0 : (A.size() < B.size() ? -1 : 1);
}

}  // namespace

std::string PortNameOfEntry(std::string_view Entry) {
    return std::string(Entry.substr(0, Entry.find(": ")));
}

std::string PortEntry(std::string_view PortName, std::string_view FriendlyName,
                      std::string_view Enumerator) {
    std::string entry(PortName);
    entry += ": ";
    entry += FriendlyName;
    entry += " @ ";
    entry += Enumerator;
    return entry;
}

void SortPortEntries(std::vector<std::string>& Entries) {
    std::sort(Entries.begin(), Entries.end(), [](const std::string& A, const std::string& B) {
        const int folded = CompareFolded(A, B);
        return folded != 0 ? folded < 0 : A < B;
    });
}

}  // namespace tarnwick
