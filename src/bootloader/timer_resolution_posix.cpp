// POSIX waits (poll, condition variables) sleep as long as asked, to the microsecond.
#include "timer_resolution.h"

namespace tarnwick {

TFineTimerScope::TFineTimerScope() = default;

TFineTimerScope::~TFineTimerScope() = default;

}  // namespace tarnwick
