// The Linux port list read from a sysfs and a /dev tree given by the caller (a test's copy,
// a container's); ListSerialPorts reads /sys and /dev.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

std::vector<std::string> ListSerialPortsUnder(const std::filesystem::path& SysRoot,
                                              const std::filesystem::path& DevRoot);

// True when the tty Name (as under /sys/class/tty, e.g. "ttyS0") has a device node
// and, where it is a UART port, the kernel found a UART behind it.
bool PortAvailable(std::string_view Name, const std::filesystem::path& SysRoot = "/sys",
                   const std::filesystem::path& DevRoot = "/dev");

}  // namespace tarnwick
