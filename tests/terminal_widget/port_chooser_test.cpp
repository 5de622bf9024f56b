// The question for a port when the terminal program starts without one: the listed
// entries give their port name, a typed name or path is taken as it is, and nothing
// can be opened without a name.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <string>

#include "port_chooser.h"

namespace tarnwick {
namespace {

TEST(PortChooser, GivesThePortNameOfWhatIsChosenOrTyped) {
    TPortChooser chooser(
        {"/dev/ttyUSB0: FT232R USB UART (FTDI) @ usb", "COM12: USB Serial Port (COM12) @ FTDIBUS"});
    EXPECT_EQ(chooser.PortName(), "/dev/ttyUSB0");  // the first entry preselected
    EXPECT_TRUE(chooser.OpenButton.isEnabled());

    struct {
        const char* Typed;
        const char* Name;  // "" leaves nothing to open
    } const cases[] = {
        {"COM12: USB Serial Port (COM12) @ FTDIBUS", "COM12"},
        {"/dev/pts/7", "/dev/pts/7"},
        {"  /dev/ttyACM0 ", "/dev/ttyACM0"},
        {"", ""},
        {"   ", ""},
    };
    for (const auto& c : cases) {
        chooser.PortBox.setEditText(QString::fromUtf8(c.Typed));
        EXPECT_EQ(chooser.PortName(), c.Name) << c.Typed;
        EXPECT_EQ(chooser.OpenButton.isEnabled(), *c.Name != '\0') << c.Typed;
    }
    // Typing does not add entries to the list.
    chooser.PortBox.setEditText(QStringLiteral("/dev/pts/7"));
    chooser.PortBox.lineEdit()->returnPressed();
    EXPECT_EQ(chooser.PortBox.count(), 2);

    // Without ports, Open waits for a typed name.
    TPortChooser empty({});
    EXPECT_FALSE(empty.OpenButton.isEnabled());
    empty.PortBox.setEditText(QStringLiteral("/dev/ttyUSB3"));
    EXPECT_TRUE(empty.OpenButton.isEnabled());
}

}  // namespace
}  // namespace tarnwick
