// The machine's serial ports as a user picks them: one entry a port, of the form
// port name, ": ", friendly name, " @ ", enumerator (the bus or registry branch the
// device was found on), e.g. "COM3: Serial Adapter (COM3) @ USB" on Windows or
// "/dev/ttyUSB0: FT232R USB UART (FTDI) @ usb" on Linux. The window's port box and
// tarnwick-cli ports show the same list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

// The serial ports present now, sorted by SortPortEntries; empty when there are none.
//
// Windows: every device instance in the device registry that has a port name COMn
// for which the system has a default configuration.
// Linux: every tty in sysfs that hangs on real hardware, whose device node exists
// and, for a UART port, behind which the kernel found a UART.
// (Each system's own tests of availability: platform/port_list_sysfs.h and
// platform/port_list_win32.h.)
std::vector<std::string> ListSerialPorts();

// The port name of an entry: the text before the first ": ", or the whole text
// when there is none (a name the user typed into the box).
std::string PortNameOfEntry(std::string_view Entry);

// Port name, ": ", friendly name, " @ ", enumerator.
std::string PortEntry(std::string_view PortName, std::string_view FriendlyName,
                      std::string_view Enumerator);

// Sorts entries by their whole text as the system locales would, without regard to
// letter case: blanks and punctuation before digits, digits before letters (COM1,
// COM10, COM2). Entries that differ only in case keep a fixed order.
void SortPortEntries(std::vector<std::string>& Entries);

}  // namespace tarnwick
