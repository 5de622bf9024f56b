#include "station/station.h"

#include <cstdio>

namespace tarnwick {

void TStationTally::Add(TAttemptStatus Status, std::int64_t DurationMs) {
    const std::lock_guard<std::mutex> lock(Mutex);
    switch (Status) {
        case TAttemptStatus::Good:
            ++Totals.Good;
            Totals.GoodMs += DurationMs;
            break;
        case TAttemptStatus::Bad:
            ++Totals.Bad;
            break;
        case TAttemptStatus::Cancelled:
            ++Totals.Cancelled;
            break;
    }
}

TStationCounts TStationTally::Counts() const {
    const std::lock_guard<std::mutex> lock(Mutex);
    return Totals;
}

std::string SummaryText(const TStationCounts& Counts) {
    std::string text = "Geräte: " + std::to_string(Counts.Good) + " gut, " +
                       std::to_string(Counts.Bad) + " schlecht, " +
                       std::to_string(Counts.Cancelled) + " abgebrochen";
    char part[96];
    if (Counts.Devices() > 0) {
        // German decimal comma.
        std::snprintf(part, sizeof part, "; Ausbeute %.1f %%",
                      100.0 * Counts.Good / Counts.Devices());
        std::string yield = part;
        const auto dot = yield.find('.');
        if (dot != std::string::npos)
            yield[dot] = ',';
        text += yield;
    }
    if (Counts.Good > 0) {
        const std::int64_t mean = Counts.GoodMs / Counts.Good;
        std::snprintf(
            part, sizeof part, "; mittlere Zeit je gutem Gerät %02lld:%02lld:%02lld,%lld",
            static_cast<long long>(mean / 3600000), static_cast<long long>(mean / 60000 % 60),
            static_cast<long long>(mean / 1000 % 60), static_cast<long long>(mean / 100 % 10));
        text += part;
    }
    return text;
}

}  // namespace tarnwick
