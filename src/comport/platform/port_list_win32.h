// What the Windows port list asks the system of each port.
#pragma once

namespace tarnwick {

// True when the system has a default configuration for "COM" + PortNumber.
bool PortAvailable(unsigned PortNumber);

}  // namespace tarnwick
