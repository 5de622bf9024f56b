// Ports on Windows: present when the system's port list names them; a USB adapter when its
// entry names the USB enumerator.
#include <algorithm>

#include "comport/port_list.h"
#include "station_port.h"

namespace tarnwick::cli {

bool PortPresent(const std::string& Port) {
    const auto ports = ListSerialPorts();
    return std::any_of(ports.begin(), ports.end(),
                       [&](const std::string& Entry) { return PortNameOfEntry(Entry) == Port; });
}

bool PortIsUsbAdapter(const std::string& Port) {
    const auto ports = ListSerialPorts();
    return std::any_of(ports.begin(), ports.end(), [&](const std::string& Entry) {
        return PortNameOfEntry(Entry) == Port && Entry.find("@ USB") != std::string::npos;
    });
}

}  // namespace tarnwick::cli
