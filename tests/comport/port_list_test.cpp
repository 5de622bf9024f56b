// The port list's Linux walk over a directory tree laid out like sysfs, and the
// entry text and order shared with the Windows walk (which the Wine smoke test runs).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "comport/platform/port_list_sysfs.h"
#include "comport/port_list.h"
#include "sysfs_tree.h"
#include "temp_dir.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

// The hardware of a small machine, as the kernel lays it out.
class PortListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // USB adapter with product and maker strings, behind the usb-serial port layer.
        const fs::path ftdi = Tree.Device("pci0000:00/0000:00:14.0/usb1/1-1", "usb", "usb");
        Tree.Attribute(ftdi, "idVendor", "0403");
        Tree.Attribute(ftdi, "product", "FT232R USB UART");
        Tree.Attribute(ftdi, "manufacturer", "FTDI ");
        Tree.Device("pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0", "usb", "ftdi_sio");
        Tree.Tty(Tree.Device("pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/ttyUSB0", "usb-serial",
                             "ftdi_sio"),
                 "ttyUSB0");
        // CDC-ACM device with a product string but no maker.
        const fs::path pico = Tree.Device("pci0000:00/0000:00:14.0/usb1/1-2", "usb", "usb");
        Tree.Attribute(pico, "idVendor", "2e8a");
        Tree.Attribute(pico, "product", "Pico");
        Tree.Tty(Tree.Device("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0", "usb", "cdc_acm"),
                 "ttyACM0");
        // A USB adapter unplugged while the list is read: its node is gone.
        Tree.Tty(Tree.Device("pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0", "usb", "pl2303"),
                 "ttyUSB1", true, false);
        // A real 16550A behind pnp, under the serial core's controller and port devices.
        Tree.Device("pnp0/00:00", "pnp", "serial");
        Tree.Device("pnp0/00:00/00:00:0", "serial-base", "ctrl");
        Tree.Attribute(
            Tree.Tty(Tree.Device("pnp0/00:00/00:00:0/00:00:0.0", "serial-base", "port"), "ttyS0"),
            "type", "4");
        // Two placeholders the 8250 driver makes for ports that may not exist.
        Tree.Device("platform/serial8250", "platform", "serial8250");
        for (const char* name : {"ttyS1", "ttyS2"}) {
            const std::string port = std::string("platform/serial8250/serial8250:0.") + name[4];
            Tree.Attribute(Tree.Tty(Tree.Device(port, "serial-base", "port"), name), "type", "0");
        }
        // A Bluetooth port: its device has no driver, so the port's name stands in.
        Tree.Tty(
            Tree.Device("pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/bluetooth/hci0", "bluetooth"),
            "rfcomm0");
        // A virtual console: no device link.
        Tree.Tty(Tree.Device("virtual/tty", "virtual"), "tty1", false);
    }

    std::string Node(const std::string& Name) const { return (Tree.Dev() / Name).string(); }

    test::TTempDir Temp;
    test::TSysfsTree Tree{Temp.Path()};
};

TEST_F(PortListTest, WalkListsTheRealHardwareWithNameAndBusInOrder) {
    const std::vector<std::string> expected = {
        Node("rfcomm0") + ": rfcomm0 @ bluetooth",
        Node("ttyACM0") + ": Pico @ usb",
        Node("ttyS0") + ": serial @ pnp",
        Node("ttyUSB0") + ": FT232R USB UART (FTDI) @ usb",
    };
    EXPECT_EQ(ListSerialPortsUnder(Tree.Sys(), Tree.Dev()), expected);
}

TEST_F(PortListTest, MissingSysfsGivesAnEmptyList) {
    EXPECT_TRUE(ListSerialPortsUnder(Temp.Path() / "nothing", Tree.Dev()).empty());
}

TEST(PortListMachineTest, EveryListedPortIsACharacterDevice) {
    // Whatever this machine has: only nodes that a port can be opened on.
    for (const std::string& entry : ListSerialPorts()) {
        struct stat info {};
        ASSERT_EQ(stat(PortNameOfEntry(entry).c_str(), &info), 0) << entry;
        EXPECT_TRUE(S_ISCHR(info.st_mode)) << entry;
    }
}

TEST(PortEntryTest, PortNameIsTheTextBeforeTheFirstColon) {
    const struct {
        const char* Entry;
        const char* PortName;
    } cases[] = {
        {"COM3: Serial Adapter (COM3) @ USB", "COM3"},
        {"COM12: USB Serial Port (COM12) @ FTDIBUS", "COM12"},
        {"/dev/ttyUSB0: FT232R USB UART (FTDI) @ usb", "/dev/ttyUSB0"},
        {"COM7", "COM7"},                 // typed by the user
        {"C:\\x: y: z @ ROOT", "C:\\x"},  // a colon without a blank belongs to the name
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PortNameOfEntry(c.Entry), c.PortName) << c.Entry;
    }
    EXPECT_EQ(PortEntry("COM3", "Serial Adapter (COM3)", "USB"),
              "COM3: Serial Adapter (COM3) @ USB");
}

TEST(PortEntryTest, SortIgnoresLetterCaseAndComparesWholeTexts) {
    std::vector<std::string> entries = {
        "COM2: Modem @ ACPI",    "com1: b @ ROOT", "COM10: Adapter @ USB",
        "/dev/ttyUSB0: x @ usb", "COM1: b @ ROOT", "/dev/ttyacm0: y @ usb",
    };
    SortPortEntries(entries);
    const std::vector<std::string> expected = {
        "/dev/ttyacm0: y @ usb", "/dev/ttyUSB0: x @ usb", "COM1: b @ ROOT",
        "com1: b @ ROOT",        "COM10: Adapter @ USB",  "COM2: Modem @ ACPI",
    };
    EXPECT_EQ(entries, expected);
}

}  // namespace
}  // namespace tarnwick
