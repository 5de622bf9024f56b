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
#include "bootloader/line_rates.h"
#include "cli_platform.h"
#include "command.h"
#include "comport/com_port.h"
#include "comport/main_thread_dispatcher.h"
#include "device_owner.h"
#include "image/firmware_image.h"
#include "station/attempt_record.h"
#include "station/station_files.h"
#include "terminal/com_terminal_core.h"
#include "update_console.h"
#include "update_run.h"

namespace tarnwick::cli {

std::atomic<bool> InterruptRequested{false};

namespace {

void OnInterrupt(int) {
    InterruptRequested = true;
}

int RunUpdates(const TUpdateOptions& Options, const TBuffer& Image, std::int32_t HighestAddress,
               TCommandContext& Context) {
    if (Options.Ports.size() > 1)
        return RunMultiUpdate(Options, Image, HighestAddress, Context);
    TTerminalConsole terminal(Context.Out, Options.Yes);
    const TDeviceResult result = RunDeviceUpdate(Options, Options.Ports.front(), Image,
                                                 HighestAddress, terminal, InterruptRequested);
    const TUpdateOutcome& outcome = result.Outcome;
    // A record that could not be written fails the command, however the device went.
    if (!result.StationFault.empty())
        return ExitFailure;
    if (outcome.SuccessSent)
        return ExitSuccess;
    // Ctrl-C at the warning question stops the run before it connects.
    if (outcome.Cancelled || (terminal.QuestionInterrupted && !outcome.Connected))
        return ExitCancelled;
    return ExitFailure;
}

// Messages that found no reader (a pipe into "head" that has ended) do not change how the
// update went: a script must not flash a good device again. The status stays that of the
// update, and the loss is said on standard error, where it still can be.
int WithLostOutputSaid(int Code, TCommandContext& Context) {
    Context.Out.flush();
    if (Context.Out)
        return Code;
    Context.Err << ProgramName << ": Fehler beim Schreiben der Standardausgabe, Meldungen gingen "
                << (Code == ExitSuccess ? "verloren; das Update ist gelungen\n" : "verloren\n")
                << std::flush;
    Context.OutputLossSaid = true;
    return Code;
}

}  // namespace

TUpdateOptions ParseUpdateOptions(const TArguments& Arguments) {
    TUpdateOptions options;
    options.Ports = Arguments.Values("port");
    if (options.Ports.empty())
        options.Ports.push_back("COM1");
    options.Baud = Arguments.Value("baud", "115200");
    options.Program = !Arguments.Has("no-program");
    options.Verify = !Arguments.Has("no-verify");
    options.Yes = Arguments.Has("yes");
    options.PowerCycle = !Arguments.Has("no-power-cycle");
    options.Pacing = Arguments.NumberOption("pacing", DefaultBytePacing, 0, DefaultBytePacing);
    if (Arguments.Has("fast")) {
        if (options.Pacing != 0 && Arguments.Has("pacing"))
            throw EUsage("--fast und --pacing " + Arguments.Value("pacing") +
                         " widersprechen sich");
        if (Arguments.Has("paced"))
            throw EUsage("--fast und --paced widersprechen sich");
        options.Pacing = 0;
    }
    if (Arguments.Has("paced") && options.Pacing != DefaultBytePacing)
        throw EUsage("--paced und --pacing " + Arguments.Value("pacing") + " widersprechen sich");
    // Any of the three chooses the speed; without them the device's mark does.
    options.AutoLineSpeed =
        !Arguments.Has("paced") && !Arguments.Has("pacing") && !Arguments.Has("fast");
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
    if (!IsLineRateText(options.Baud))
        throw EUsage("ungültige Baudrate " + options.Baud);
    return options;
}

namespace {

// Exit status: 0 when the run ended with the success command sent (on every device), 3
// when the user cancelled, 2 for a usage error, 1 for everything else.
int RunUpdate(const TArguments& Arguments, TCommandContext& Context) {
    if (Arguments.Operands.empty())
        throw EUsage("keine Datei angegeben");
    if (Arguments.Operands.size() > 1)
        throw EUsage("nur eine Datei erlaubt");
    TUpdateOptions options = ParseUpdateOptions(Arguments);
    options.File = Arguments.Operands.front();

    // The file first, with the messages of hexdump: a bad file must not cost the user a
    // switched-off device.
    TBuffer image;
    std::int32_t highestAddress = 0;
    if (!LoadFirmwareFile(options.File, image, highestAddress, Context))
        return ExitFailure;
    TRecordPlan plan;
    if (Arguments.Has("log")) {
        try {
            plan = MakeRecordPlan(Arguments, options.File, Context);
        } catch (const EStation& e) {
            Context.Err << ProgramName << " update: " << e.what() << "\n";
            return ExitFailure;
        }
        options.Record = &plan;
    }

    TMainThreadDispatcher::Instance().SetMainThread();
    const TInterruptGuard interruptGuard(OnInterrupt);
    InterruptRequested = false;
    return WithLostOutputSaid(RunUpdates(options, image, highestAddress, Context), Context);
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
        bootloader.AutoLineSpeed = Options.AutoLineSpeed;
        bootloader.PowerCycle = Options.PowerCycle;
        bootloader.ConnectUntilAnswer = Options.ConnectUntilAnswer;
        std::optional<TAttemptRecorder> recorder;
        if (Options.Record != nullptr)
            recorder.emplace(bootloader, *Options.Record, Port, Image, HighestAddress);
        if (Options.OnPhase) {
            bootloader.OnPhase = [&Options, &Port, inner = bootloader.OnPhase](TUpdatePhase p) {
                Options.OnPhase(Port, p);
                if (inner)
                    inner(p);
            };
        }
        result.Outcome = bootloader.RunUpdate();
        owner.Finish();
        result.LastLogMessage = owner.LastLogMessage();
        if (recorder) {
            result.StationFault = recorder->SerialFault();
            const bool attempted = recorder->Attempted();
            result.Attempt = recorder->Finish(result.Outcome);
            recorder.reset();
            bootloader.OnPhase = nullptr;
            if (attempted && (Options.RecordUnanswered || result.Outcome.Connected)) {
                try {
                    AppendAttempt(*Options.Record, *result.Attempt);
                } catch (const std::exception& e) {
                    result.StationFault = e.what();
                    Console.PrintLine(std::string("Fehler: ") + e.what());
                }
            } else {
                result.Attempt.reset();
            }
        }
    }
    result.DurationMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
    return result;
}

TRecordPlan MakeRecordPlan(const TArguments& Arguments, const std::string& File,
                           TCommandContext& Context) {
    TRecordPlan plan;
    plan.LogFile = Arguments.Value("log");
    if (plan.LogFile.empty())
        throw EUsage("--log braucht einen Dateinamen");
    plan.Station = Arguments.Value("station", HostName());
    plan.ImageFile = File;
    plan.ImageSha256 = FileSha256(File);
    const std::string problem = LogTailProblem(plan.LogFile);
    if (!problem.empty())
        Context.Err << problem << "\n";
    return plan;
}

std::vector<TOption> UpdateRunOptions() {
    return {
        {"port", "NAME",
         "serielle Schnittstelle (Vorgabe COM1; auch ein Pfad wie /dev/ttyUSB0); mehrfach "
         "angegeben: alle Geräte zugleich, jede Zeile mit ihrem Port davor, am Ende eine Tabelle"},
        {"baud", "RATE", "Baudrate (Vorgabe 115200)"},
        {"password", "TEXT", "Bootloader-Passwort (Vorgabe Kiwu)"},
        {"no-program", "", "nicht programmieren"},
        {"no-verify", "", "nicht überprüfen"},
        {"yes", "", "beide Fragen mit Ja beantworten und bei Hinweisen nicht warten"},
        {"fast", "",
         "Programm- und Prüfdaten, Kommandos und CRC in Leitungsgeschwindigkeit senden (wie "
         "--pacing 0; die Verbindungsversuche bleiben im 50-ms-Takt); nur für Bootloader, die "
         "mithalten: verlorene Bytes meldet die CRC-Prüfung oder das Überprüfen. Ohne --fast, "
         "--paced und --pacing entscheidet das Gerät: ein Tarnwick-Bootloader, der sich in den "
         "Antworten auf die Abfragen zu erkennen gibt, bekommt den Rest des Updates so, jedes "
         "andere Gerät den 50-ms-Takt"},
        {"paced", "", "jedes Byte im 50-ms-Takt senden, auch zu einem Tarnwick-Bootloader"},
        {"no-power-cycle", "",
         "das Gerät nicht aus- und einschalten lassen (es wird anders eingeschaltet oder "
         "zurückgesetzt): kein Hinweis, keine Wartezeit, die Verbindungsversuche beginnen "
         "sofort nach dem Öffnen des Ports"},
        {"pacing", "MS",
         "Wartezeit je Byte der Programm- und Prüfdaten in ms, 0 bis 50 (Vorgabe 50: was der "
         "Bootloader sicher verträgt)"},
    };
}

std::vector<TOption> RecordOptions() {
    return {
        {"log", "DATEI",
         "jeden Versuch als eine Zeile JSON an DATEI anhängen (JSON Lines: Zeit, Station, Port, "
         "Datei mit SHA-256, Seriennummer, Baustein, Ergebnis, Dauer der Abschnitte)"},
        {"station", "NAME", "Name der Station im Protokoll (Vorgabe: der Rechnername)"},
    };
}

namespace {

std::vector<TOption> UpdateOptions() {
    std::vector<TOption> options = UpdateRunOptions();
    for (const TOption& option : RecordOptions())
        options.push_back(option);
    return options;
}

}  // namespace

const TCommand UpdateCommand{
    "update",
    "DATEI",
    "Firmware über den Bootloader des Geräts programmieren und überprüfen",
    UpdateOptions(),
    RunUpdate,
};

}  // namespace tarnwick::cli
