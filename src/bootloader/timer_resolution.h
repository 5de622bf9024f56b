// The system timer at its finest for as long as an update runs.
#pragma once

namespace tarnwick {

// Every wait of an update (the pacing of each byte, the connection rounds, the block
// waits of --fast) sleeps in the system's timed waits. Windows wakes those on its timer
// tick, 15.6 ms unless a program asks for 1 ms: each wait would round up to the next
// tick and the update take several times as long, on real hardware only (Wine's waits
// are exact). Holding this object for the whole run makes every wait in it right
// without each having to know. Elsewhere the system's waits are fine already.
class TFineTimerScope {
  public:
    TFineTimerScope();
    ~TFineTimerScope();
    TFineTimerScope(const TFineTimerScope&) = delete;
    TFineTimerScope& operator=(const TFineTimerScope&) = delete;

  private:
    // Whether the 1 ms period was granted and must be given back; only Windows sets it.
    [[maybe_unused]] bool Raised = false;
};

}  // namespace tarnwick
