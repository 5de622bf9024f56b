#include "port_chooser.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "comport/port_list.h"

namespace tarnwick {

TPortChooser::TPortChooser(const std::vector<std::string>& Entries, QWidget* Parent)
    : QDialog(Parent),
      OpenButton(QStringLiteral("Öffnen")),
      CancelButton(QStringLiteral("Abbrechen")) {
    setWindowTitle(QStringLiteral("Tarnwick Terminal"));
    auto* layout = new QVBoxLayout(this);
    auto* label =
        new QLabel(Entries.empty() ? QStringLiteral("Keine seriellen Ports gefunden. Name oder "
                                                    "Pfad der Schnittstelle eingeben:")
                                   : QStringLiteral("Serielle Schnittstelle:"),
                   this);
    label->setBuddy(&PortBox);
    layout->addWidget(label);
    PortBox.setEditable(true);
    PortBox.setInsertPolicy(QComboBox::NoInsert);
    PortBox.setMinimumContentsLength(40);
    for (const std::string& entry : Entries)
        PortBox.addItem(QString::fromStdString(entry));
    layout->addWidget(&PortBox);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(&OpenButton);
    buttons->addWidget(&CancelButton);
    layout->addLayout(buttons);
    OpenButton.setDefault(true);
    connect(&OpenButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(&CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    // Nothing to open without a name.
    const auto enableOpen = [this] { OpenButton.setEnabled(!PortName().empty()); };
    connect(&PortBox, &QComboBox::editTextChanged, this, enableOpen);
    enableOpen();
}

std::string TPortChooser::PortName() const {
    return PortNameOfEntry(PortBox.currentText().trimmed().toStdString());
}

std::optional<std::string> ChooseSerialPort() {
    TPortChooser chooser(ListSerialPorts());
    if (chooser.exec() != QDialog::Accepted || chooser.PortName().empty())
        return std::nullopt;
    return chooser.PortName();
}

}  // namespace tarnwick
