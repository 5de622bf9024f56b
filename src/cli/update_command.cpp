// tarnwick-cli update: a whole firmware update from the command line.
//
// The update run is the one of the main window; the CLI only plays its owner (TCliOwner):
// messages go to standard output one per line, questions and notices to the terminal,
// progress to standard error when that is a terminal, and Ctrl-C asks to cancel. Given
// several ports, it updates them all at once (update_multi.cpp).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "bootloader/bootloader.h"
#include "cli_platform.h"
#include "command.h"
#include "comport/com_port.h"
#include "comport/main_thread_dispatcher.h"
#include "device_owner.h"
#include "image/firmware_image.h"
#include "terminal/com_terminal_core.h"
#include "update_console.h"
#include "update_run.h"

namespace tarnwick::cli {

std::atomic<bool> InterruptRequested{false};

namespace {

void OnInterrupt(int) {
    InterruptRequested = true;
}

// Exit status: 0 when the run ended with the success command sent (on every device), 3
// when the user cancelled, 2 for a usage error, 1 for everything else.
int RunUpdate(const TArguments& Arguments, TCommandContext& Context) {
    if (Arguments.Operands.empty())
        throw EUsage("keine Datei angegeben");
    if (Arguments.Operands.size() > 1)
        throw EUsage("nur eine Datei erlaubt");
    TUpdateOptions options;
    options.File = Arguments.Operands.front();
    options.Ports = Arguments.Values("port");
    if (options.Ports.empty())
        options.Ports.push_back("COM1");
    options.Baud = Arguments.Value("baud", "115200");
    options.Program = !Arguments.Has("no-program");
    options.Verify = !Arguments.Has("no-verify");
    options.Yes = Arguments.Has("yes");
    options.Pacing = Arguments.NumberOption("pacing", DefaultBytePacing, 0, DefaultBytePacing);
    if (Arguments.Has("fast")) {
        if (options.Pacing != 0 && Arguments.Has("pacing"))
            throw EUsage("--fast und --pacing " + Arguments.Value("pacing") +
                         " widersprechen sich");
        options.Pacing = 0;
    }
    // The device compares the password byte by byte with what the Windows tool sends: one
    // Windows-1252 byte per character.
    if (!ArgumentToCp1252(Arguments.Value("password", "Kiwu"), options.Password))
        throw EUsage("das Passwort enthält Zeichen, die nicht in Windows-1252 darstellbar sind");
    for (auto port = options.Ports.begin(); port != options.Ports.end(); ++port) {
        if (port->empty())
            throw EUsage("leerer Portname");
        if (std::find(options.Ports.begin(), port, *port) != port)
            throw EUsage("Port " + *port + " mehrfach angegeben");
    }
    // Only the rates of the baud-rate list: anything else would silently become another.
    if (options.Baud == "Custom" || BaudRateToText(BaudRateFromText(options.Baud)) != options.Baud)
        throw EUsage("ungültige Baudrate " + options.Baud);

    // The file first, with the messages of hexdump: a bad file must not cost the user a
    // switched-off device.
    TBuffer image;
    std::int32_t highestAddress = 0;
    if (!LoadFirmwareFile(options.File, image, highestAddress, Context))
        return ExitFailure;

    TMainThreadDispatcher::Instance().SetMainThread();
    const TInterruptGuard interruptGuard(OnInterrupt);
    InterruptRequested = false;
    if (options.Ports.size() > 1)
        return RunMultiUpdate(options, image, highestAddress, Context);

    TTerminalConsole terminal(Context.Out, options.Yes);
    const TDeviceResult result = RunDeviceUpdate(options, options.Ports.front(), image,
                                                 highestAddress, terminal, InterruptRequested);
    const TUpdateOutcome& outcome = result.Outcome;
    if (outcome.SuccessSent)
        return ExitSuccess;
    // Ctrl-C at the warning question stops the run before it connects.
    if (outcome.Cancelled || (terminal.QuestionInterrupted && !outcome.Connected))
        return ExitCancelled;
    return ExitFailure;
}

}  // namespace

TDeviceResult RunDeviceUpdate(const TUpdateOptions& Options, const std::string& Port,
                              const TBuffer& Image, std::int32_t HighestAddress,
                              TUpdateConsole& Console, std::atomic<bool>& Interrupt) {
    const auto start = std::chrono::steady_clock::now();
    TDeviceResult result;
    {
        TComPort port;
        // The same terminal core as the window's hidden terminal: its link makes the port
        // read replies, and a terminal query on the line gets the same answer from both.
        TComTerminalCore terminal;
        terminal.SetComPort(&port);
        TCliOwner owner(Options, Port, Console, Interrupt);
        TBootloader bootloader(owner, port, false);
        // During the update only the protocol's bytes may go on the line: on a single
        // wire the device returns the image, and a query in it must not be answered.
        terminal.OnOutput = [&bootloader](TComTerminalCore& Sender, const std::string& Bytes) {
            if (!bootloader.UpdateRunning)
                WriteToLinkedPort(Sender, Bytes);
        };
        owner.SetBootloader(&bootloader);
        bootloader.SetImage(Image, HighestAddress);
        bootloader.BytePacing = Options.Pacing;
        result.Outcome = bootloader.RunUpdate();
        owner.Finish();
        result.LastLogMessage = owner.LastLogMessage();
    }
    result.DurationMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
    return result;
}

const TCommand UpdateCommand{
    "update",
    "DATEI",
    "Firmware über den Bootloader des Geräts programmieren und überprüfen",
    {
        {"port", "NAME",
         "serielle Schnittstelle (Vorgabe COM1; auch ein Pfad wie /dev/ttyUSB0); mehrfach "
         "angegeben: alle Geräte zugleich, jede Zeile mit ihrem Port davor, am Ende eine Tabelle"},
        {"baud", "RATE", "Baudrate (Vorgabe 115200)"},
        {"password", "TEXT", "Bootloader-Passwort (Vorgabe Kiwu)"},
        {"no-program", "", "nicht programmieren"},
        {"no-verify", "", "nicht überprüfen"},
        {"yes", "", "beide Fragen mit Ja beantworten und bei Hinweisen nicht warten"},
        {"fast", "",
         "Programm- und Prüfdaten in Leitungsgeschwindigkeit senden (wie --pacing 0); nur für "
         "Bootloader, die mithalten: verlorene Bytes meldet die CRC-Prüfung oder das Überprüfen"},
        {"pacing", "MS",
         "Wartezeit je Byte der Programm- und Prüfdaten in ms, 0 bis 50 (Vorgabe 50: was der "
         "Bootloader sicher verträgt)"},
    },
    RunUpdate,
};

}  // namespace tarnwick::cli
