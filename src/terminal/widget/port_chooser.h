// The question a serial monitor asks when it is started without a port (from the
// desktop menu, say): which of the machine's ports to open. The user picks an entry
// of the port list or types a name or path of their own.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QPushButton>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

class TPortChooser : public QDialog {
  public:
    // Entries as the port list gives them ("/dev/ttyUSB0: FT232R USB UART (FTDI) @ usb");
    // the first one is preselected.
    explicit TPortChooser(const std::vector<std::string>& Entries, QWidget* Parent = nullptr);

    // The port name of the chosen or typed entry (the text before ": "), trimmed.
    std::string PortName() const;

    QComboBox PortBox;
    QPushButton OpenButton;
    QPushButton CancelButton;
};

// Shows the chooser over the machine's ports; the port name, or nothing when cancelled.
std::optional<std::string> ChooseSerialPort();

}  // namespace tarnwick
