// What to tell a user whose port could not be opened for lack of permission. On
// Debian serial devices belong to the group "dialout", and a new user is not in it:
// a common first-day problem that the bare error message does not explain.
#pragma once

#include <cstdint>
#include <string>

namespace tarnwick {

// A German hint for a failed open of Port (as given to TComPort::SetPort) with the
// system's error code OsError: on POSIX, for EACCES, the device node and, when its group
// may read and write it and is not root, that group and how to join it; otherwise that
// only the superuser may open the port (and, for a console of the system, that it is
// probably not the device's port). Empty for any other error, and on Windows, where a
// port refused is one in use by another program.
std::string PortAccessHint(const std::string& Port, std::uint32_t OsError);

}  // namespace tarnwick
