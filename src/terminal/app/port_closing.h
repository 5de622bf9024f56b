// The last step of tarnwick-terminal, after its window has gone: closing the port.
#pragma once

#include <ostream>

#include "comport/com_port.h"

namespace tarnwick {

// Closes Port and gives the program's exit status: WindowResult when the port closed,
// 1 after a close that failed, which is said on Err (the window is gone by then).
int ClosePortAfterWindow(TCustomComPort& Port, int WindowResult, std::ostream& Err);

}  // namespace tarnwick
