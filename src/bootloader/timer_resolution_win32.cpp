#include <windows.h>

#include <timeapi.h>

#include "timer_resolution.h"

namespace tarnwick {

TFineTimerScope::TFineTimerScope() : Raised(timeBeginPeriod(1) == TIMERR_NOERROR) {}

TFineTimerScope::~TFineTimerScope() {
    // Only a request that was granted is given back.
    if (Raised)
        timeEndPeriod(1);
}

}  // namespace tarnwick
