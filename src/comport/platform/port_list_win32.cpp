// The port list on Windows, from the device registry: every device instance under
// HKLM\SYSTEM\CurrentControlSet\Enum\<enumerator>\<device>\<instance> whose
// "Device Parameters" name a COM port the system can configure.
#include <windows.h>

#include <charconv>

#include "comport/platform/comm_device.h"
#include "comport/platform/port_list_win32.h"
#include "comport/port_list.h"
#include "comport/registry_key_win32.h"

namespace tarnwick {

namespace {

// The number of a port named "COM" and decimal digits; 0 for any other name
// (LPT1, COM, COM3x), which the list leaves out.
unsigned ComPortNumber(std::string_view PortName) {
    if (PortName.size() < 4 || PortName.size() > 12 || PortName.substr(0, 3) != "COM")
        return 0;
    const std::string_view digits = PortName.substr(3);
    unsigned number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return error == std::errc() && end == digits.data() + digits.size() ? number : 0;
}

// The entry of one device instance, or the empty text when it names no usable port.
std::string InstanceEntry(const TWin32ReadOnlyKey& Instance, const std::string& Enumerator) {
    if (!Instance.HasSubkey("Device Parameters"))
        return {};
    const std::string friendlyName = Instance.Values().ReadString("FriendlyName");
    const TWin32ReadOnlyKey parameters(Instance.Handle(), "Device Parameters");
    if (!parameters.Valid() || !parameters.Values().ValueExists("PortName"))
        return {};
    const std::string portName = parameters.Values().ReadString("PortName");
    // The whole number counts: COM12 is not COM1.
    const unsigned number = ComPortNumber(portName);
    if (number == 0 || !PortAvailable(number))
        return {};
    return PortEntry(portName, friendlyName, Enumerator);
}

}  // namespace

bool PortAvailable(unsigned PortNumber) {
    const std::string name = "COM" + std::to_string(PortNumber);
    COMMCONFIG config{};
    DWORD size = sizeof(config);
    config.dwSize = size;
    return GetDefaultCommConfigA(name.c_str(), &config, &size) != FALSE;
}

std::vector<std::string> ListSerialPorts() {
    std::vector<std::string> entries;
    const TWin32ReadOnlyKey root(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum");
    for (const std::string& enumerator : root.SubkeyNames()) {
        const TWin32ReadOnlyKey enumeratorKey(root.Handle(), enumerator);
        for (const std::string& device : enumeratorKey.SubkeyNames()) {
            const TWin32ReadOnlyKey deviceKey(enumeratorKey.Handle(), device);
            for (const std::string& instance : deviceKey.SubkeyNames()) {
                const TWin32ReadOnlyKey instanceKey(deviceKey.Handle(), instance);
                try {
                    std::string entry = InstanceEntry(instanceKey, enumerator);
                    if (!entry.empty())
                        entries.push_back(std::move(entry));
                } catch (const ERegistryError& error) {
                    // A name that is no text: this one device is left out, not the list.
                    platform::DebugOutput("Port list: " + enumerator + "\\" + device + "\\" +
                                          instance + ": " + error.what());
                }
            }
        }
    }
    SortPortEntries(entries);
    return entries;
}

}  // namespace tarnwick
