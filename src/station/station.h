// The counts of a station's run and its summary: devices good, bad and cancelled, the
// yield, the mean time per good device. Shared by the station's lanes (thread-safe).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "station/attempt_record.h"

namespace tarnwick {

struct TStationCounts {
    int Good = 0;
    int Bad = 0;
    int Cancelled = 0;
    std::int64_t GoodMs = 0;  // the time of all good devices together

    int Devices() const { return Good + Bad + Cancelled; }
};

class TStationTally {
  public:
    void Add(TAttemptStatus Status, std::int64_t DurationMs);
    TStationCounts Counts() const;

  private:
    mutable std::mutex Mutex;
    TStationCounts Totals;
};

// "Geräte: 3 gut, 1 schlecht, 0 abgebrochen; Ausbeute 75,0 %; mittlere Zeit je gutem
// Gerät 00:00:12" (the yield counts good devices among all; the time as hh:mm:ss.s).
std::string SummaryText(const TStationCounts& Counts);

}  // namespace tarnwick
