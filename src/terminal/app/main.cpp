// tarnwick-terminal: a serial terminal window, the monitor a user opens after flashing
// to watch the device's output and type to it.
#include <QApplication>
#include <QMessageBox>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "com_terminal.h"
#include "comport/com_port.h"
#include "event_pump.h"
#include "port_chooser.h"
#include "port_closing.h"
#include "text/number_text.h"

namespace {

using namespace tarnwick;

const char* const Usage =
    "Aufruf: tarnwick-terminal [--port NAME] [--baud RATE] [--vt52 | --no-emulation]\n"
    "                          [--columns N] [--rows N] [--local-echo] [--append-lf]\n"
    "                          [--send-lf] [--wrap]\n"
    "       tarnwick-terminal --help | --version\n"
    "\n"
    "Serielles Terminal (8N1, ohne Flusssteuerung) mit VT100/ANSI-Emulation.\n"
    "\n"
    "Optionen:\n"
    "  --port NAME      serielle Schnittstelle, auch ein Pfad wie /dev/ttyUSB0 (ohne\n"
    "                   diese Option fragt das Programm nach der Schnittstelle)\n"
    "  --baud RATE      Baudrate (Vorgabe 115200)\n"
    "  --vt52           VT52-Steuerfolgen statt VT100/ANSI\n"
    "  --no-emulation   keine Steuerfolgen auswerten, jedes Byte als Zeichen zeigen\n"
    "  --columns N      Spalten (2 bis 256, Vorgabe 80)\n"
    "  --rows N         Zeilen (2 bis 100, Vorgabe 24)\n"
    "  --local-echo     Eingaben auch selbst anzeigen\n"
    "  --append-lf      nach jedem empfangenen CR ein LF einfügen\n"
    "  --send-lf        nach der Eingabetaste (CR) auch LF senden\n"
    "  --wrap           nach der letzten Spalte in der nächsten Zeile weiterschreiben\n"
    "  --help, -h       diese Hilfe anzeigen\n"
    "  --version        Version anzeigen\n";

struct TOptions {
    std::string Port;  // empty: ask
    std::string Baud = "115200";
    TTermEmulation Emulation = teVT100orANSI;
    int Columns = 80;
    int Rows = 24;
    bool LocalEcho = false;
    bool AppendLF = false;
    bool SendLF = false;
    bool Wrap = false;
    bool Help = false;
    bool Version = false;
};

int Number(const std::string& Option, const std::string& Text, int Min, int Max) {
    int value = 0;
    if (!ParseNumber(Text, Min, Max, value)) {
        throw std::invalid_argument(NumberOptionMessage(Option, Text, Min, Max));
    }
    return value;
}

TOptions ParseOptions(const std::vector<std::string>& Args) {
    TOptions options;
    bool emulationGiven = false;
    bool portGiven = false;
    for (std::size_t i = 0; i < Args.size(); ++i) {
        const std::string& arg = Args[i];
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= Args.size())
                throw std::invalid_argument(arg + " braucht einen Wert");
            return Args[++i];
        };
        const auto emulation = [&](TTermEmulation Value) {
            if (emulationGiven)
                throw std::invalid_argument("--vt52 und --no-emulation schließen sich aus");
            emulationGiven = true;
            options.Emulation = Value;
        };
        if (arg == "--help" || arg == "-h")
            options.Help = true;
        else if (arg == "--version")
            options.Version = true;
        else if (arg == "--port") {
            options.Port = value();
            portGiven = true;
        } else if (arg == "--baud")
            options.Baud = value();
        else if (arg == "--vt52")
            emulation(teVT52);
        else if (arg == "--no-emulation")
            emulation(teNone);
        else if (arg == "--columns")
            options.Columns = Number(arg, value(), MinColumns, MaxColumns);
        else if (arg == "--rows")
            options.Rows = Number(arg, value(), MinRows, MaxRows);
        else if (arg == "--local-echo")
            options.LocalEcho = true;
        else if (arg == "--append-lf")
            options.AppendLF = true;
        else if (arg == "--send-lf")
            options.SendLF = true;
        else if (arg == "--wrap")
            options.Wrap = true;
        else
            throw std::invalid_argument("unbekannte Option \"" + arg + "\"");
    }
    if (portGiven && options.Port.empty())
        throw std::invalid_argument("leerer Portname");
    return options;
}

// 8N1 without flow control, at a rate of the list or any other positive rate.
void ConfigurePort(TComPort& Port, const TOptions& Options) {
    Port.SetPort(Options.Port);
    const TBaudRate listed = BaudRateFromText(Options.Baud);
    if (Options.Baud != "Custom" && BaudRateToText(listed) == Options.Baud) {
        Port.SetBaudRate(listed);
    } else {
        Port.SetBaudRate(brCustom);
        Port.SetCustomBaudRate(Number("--baud", Options.Baud, 1, 0x7FFFFFFF));
    }
    Port.SetDataBits(dbEight);
    Port.Parity().SetBits(prNone);
    Port.SetStopBits(sbOneStopBit);
    Port.FlowControl().SetFlowControl(fcNone);
    // Received data is all the terminal watches.
    Port.SetEvents({evRxChar});
}

}  // namespace

int main(int argc, char* argv[]) {
    TOptions options;
    try {
        options = ParseOptions(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "tarnwick-terminal: %s\n\n%s", error.what(), Usage);
        return 2;
    }
    if (options.Help) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (options.Version) {
        std::fputs("tarnwick-terminal " TARNWICK_VERSION "\n", stdout);
        return 0;
    }

    QApplication application(argc, argv);
    ConnectDispatcherToEventLoop();
    // Started without a port (from the menu): the user picks one of the machine's ports.
    if (options.Port.empty()) {
        const auto chosen = ChooseSerialPort();
        if (!chosen)
            return 0;
        options.Port = *chosen;
    }
    TComPort port;  // declared before the window: the terminal detaches from it first
    QWidget window;
    window.setWindowTitle(QString::fromStdString("Tarnwick Terminal - " + options.Port));
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* terminal = new TComTerminal(&window);
    layout->addWidget(terminal);
    terminal->SetEmulation(options.Emulation);
    terminal->SetColumns(options.Columns);
    terminal->SetRows(options.Rows);
    terminal->SetLocalEcho(options.LocalEcho);
    terminal->SetAppendLF(options.AppendLF);
    terminal->SetSendLF(options.SendLF);
    terminal->SetWrapLines(options.Wrap);

    try {
        ConfigurePort(port, options);
        terminal->SetComPort(&port);
        terminal->SetConnected(true);
    } catch (const std::exception& error) {
        const std::string message = "Die Schnittstelle \"" + options.Port +
                                    "\" kann nicht geöffnet werden.\n\n" + error.what();
        std::fprintf(stderr, "tarnwick-terminal: %s\n", message.c_str());
        QMessageBox::critical(nullptr, "Tarnwick Terminal", QString::fromStdString(message));
        return 1;
    }

    window.adjustSize();
    window.show();
    terminal->setFocus();
    const int result = application.exec();
    return ClosePortAfterWindow(port, result, std::cerr);
}
