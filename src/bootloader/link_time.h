// The protocol's clock, shared by the files of TBootloader.
#pragma once

#include <cstdint>

namespace tarnwick {

// A monotonic millisecond tick: no wrap, unaffected by clock changes.
std::int64_t TickCount();

// What is left of a wait of Timeout ms that began at the tick Start, until the first tick
// beyond it (at least 1).
int RemainingMs(std::int64_t Start, std::int64_t Timeout);

// A count as a progress bar position.
int ClampToInt(std::int64_t v);

}  // namespace tarnwick
