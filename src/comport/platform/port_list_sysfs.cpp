// The port list on Linux, read from sysfs: every tty under class/tty with a
// "device" link hangs on real hardware; virtual consoles and ptys have none. The
// roots come in as parameters so that tests can lay out a tree of their own.
#include <fstream>
#include <string>
#include <system_error>

#include "comport/platform/port_list_sysfs.h"
#include "comport/port_list.h"

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

// Kernel-internal layers between a tty and the device it serves: the serial core's
// controller and port devices, and the USB serial drivers' per-port devices. They
// name neither the bus nor a driver a user knows.
bool IsPortLayer(const std::string& Subsystem) {
    return Subsystem == "serial-base" || Subsystem == "usb-serial";
}

// First line of a sysfs attribute, without surrounding blanks; empty when missing.
std::string Attribute(const fs::path& File) {
    std::ifstream in(File);
    std::string line;
    std::getline(in, line);
    const auto first = line.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return line.substr(first, line.find_last_not_of(" \t\r\n") - first + 1);
}

// The last part of where a link such as "subsystem" or "driver" points.
std::string LinkName(const fs::path& Link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(Link, error);
    return error ? std::string() : target.filename().string();
}

// Kernel names with "!" stand for paths below /dev (e.g. "usb!ttyX").
fs::path DeviceNode(std::string_view Name, const fs::path& DevRoot) {
    std::string relative(Name);
    for (char& c : relative) {
        if (c == '!')
            c = '/';
    }
    return DevRoot / relative;
}

struct THardware {
    fs::path Device;  // the first device above the port layers
    std::string Bus;  // its subsystem: usb, pnp, platform, pci, bluetooth, ...
};

THardware FindHardware(const fs::path& DeviceDir, const fs::path& SysRoot) {
    fs::path dir = DeviceDir;
    while (dir.has_relative_path() && dir != SysRoot) {
        const std::string subsystem = LinkName(dir / "subsystem");
        if (!subsystem.empty() && !IsPortLayer(subsystem))
            return {dir, subsystem};
        dir = dir.parent_path();
    }
    return {DeviceDir, LinkName(DeviceDir / "subsystem")};
}

// "product (manufacturer)" of the USB device above Dir; empty when it has no
// product string.
std::string UsbProductName(fs::path Dir, const fs::path& SysRoot) {
    std::error_code error;
    while (Dir.has_relative_path() && Dir != SysRoot) {
        if (fs::exists(Dir / "idVendor", error)) {
            std::string name = Attribute(Dir / "product");
            const std::string maker = Attribute(Dir / "manufacturer");
            if (!name.empty() && !maker.empty())
                name += " (" + maker + ")";
            return name;
        }
        Dir = Dir.parent_path();
    }
    return {};
}

}  // namespace

bool PortAvailable(std::string_view Name, const fs::path& SysRoot, const fs::path& DevRoot) {
    std::error_code error;
    if (!fs::exists(DeviceNode(Name, DevRoot), error))
        return false;
    // A serial-core port reports the UART it found; 0 is a placeholder the 8250
    // driver creates for a port that may not exist.
    const fs::path type = SysRoot / "class" / "tty" / std::string(Name) / "type";
    return !fs::exists(type, error) || Attribute(type) != "0";
}

std::vector<std::string> ListSerialPorts() {
    return ListSerialPortsUnder("/sys", "/dev");
}

std::vector<std::string> ListSerialPortsUnder(const fs::path& SysRoot, const fs::path& DevRoot) {
    std::vector<std::string> entries;
    std::error_code error;
    const fs::path sysRoot = fs::weakly_canonical(SysRoot, error);
    fs::directory_iterator tty(SysRoot / "class" / "tty", error);
    for (; !error && tty != fs::directory_iterator(); tty.increment(error)) {
        const std::string name = tty->path().filename().string();
        std::error_code linkError;
        const fs::path device = fs::canonical(tty->path() / "device", linkError);
        if (linkError || !PortAvailable(name, SysRoot, DevRoot))
            continue;
        const THardware hardware = FindHardware(device, sysRoot);
        std::string friendly;
        if (hardware.Bus == "usb")
            friendly = UsbProductName(hardware.Device, sysRoot);
        if (friendly.empty())
            friendly = LinkName(hardware.Device / "driver");
        if (friendly.empty())
            friendly = name;
        entries.push_back(PortEntry(DeviceNode(name, DevRoot).string(), friendly, hardware.Bus));
    }
    SortPortEntries(entries);
    return entries;
}

}  // namespace tarnwick
