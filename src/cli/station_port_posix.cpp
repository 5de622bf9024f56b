// Ports on POSIX: a path as it is, a bare name under /dev, COMn as /dev/ttyS(n-1), as the
// port component names them; USB by the tty's device in sysfs.
#include <filesystem>
#include <system_error>

#include "comport/port_list.h"
#include "station_port.h"

namespace tarnwick::cli {

namespace {

std::filesystem::path PortPath(const std::string& Port) {
    if (Port.find('/') != std::string::npos)
        return Port;
    if (Port.size() > 3 && Port.compare(0, 3, "COM") == 0) {
        const std::string number = Port.substr(3);
        if (number.find_first_not_of("0123456789") == std::string::npos)
            return "/dev/ttyS" + std::to_string(std::stoi(number) - 1);
    }
    return "/dev/" + Port;
}

}  // namespace

bool PortPresent(const std::string& Port) {
    std::error_code error;
    return std::filesystem::exists(PortPath(Port), error);
}

bool PortIsUsbAdapter(const std::string& Port) {
    std::error_code error;
    // /dev/serial/by-id/... links lead to the adapter's own name.
    const auto device = std::filesystem::canonical(PortPath(Port), error);
    if (error)
        return false;
    const auto sysfs = std::filesystem::canonical(
        std::filesystem::path("/sys/class/tty") / device.filename() / "device", error);
    return !error && sysfs.string().find("/usb") != std::string::npos;
}

}  // namespace tarnwick::cli
