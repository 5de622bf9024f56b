// What a station asks of a port between devices: whether it is there now, and whether it
// belongs to the device (a USB adapter in the device's cable), so that the next device
// brings it back. station_port_posix.cpp or station_port_win32.cpp is built.
#pragma once

#include <string>

namespace tarnwick::cli {

bool PortPresent(const std::string& Port);
bool PortIsUsbAdapter(const std::string& Port);

}  // namespace tarnwick::cli
