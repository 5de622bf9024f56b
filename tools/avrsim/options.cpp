#include "options.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <iterator>

#include "number_option.h"

namespace avrsim {

void Usage(std::ostream& out) {
    out << "Aufruf: tarnwick-avrsim [OPTIONEN] [FIRMWARE.hex]\n"
           "\n"
           "Emulierter AVR-Chip (simavr), der die Firmware ab dem Bootbereich ausführt, seine\n"
           "serielle Schnittstelle an einem Pseudo-Terminal. Die erste Zeile der Ausgabe ist\n"
           "dessen Pfad, die Schnittstelle für den Host.\n"
           "\n"
           "Optionen:\n"
           "  --mcu NAME             Chip (Vorgabe atmega328p)\n"
           "  --frequency HZ         Takt (Vorgabe 16000000)\n"
           "  --app DATEI            zusätzlich dieses Anwendungsprogramm (HEX) laden\n"
           "  --boot-address ADR     Reset-Vektor und Beginn des Bootbereichs (Vorgabe: die\n"
           "                         niedrigste Adresse der Firmware im oberen Flash, sonst\n"
           "                         1 KiB vor dem Ende; 0: ohne Bootbereich)\n"
           "  --flash DATEI          Flash-Inhalt: beim Start gelesen, wenn vorhanden, nach\n"
           "                         jedem Löschen und Schreiben einer Seite geschrieben\n"
           "  --eeprom DATEI         EEPROM-Inhalt, ebenso\n"
           "  --pins DATEI           Änderungen der Port-Register in diese Datei statt auf\n"
           "                         die Standardausgabe\n"
           "  --no-pins              Änderungen der Port-Register nicht melden\n"
           "  --trace DATEI          jedes Byte auf der Leitung mit Zeit und Richtung schreiben\n"
           "  --power-on-delay MS    den Chip erst MS ms nach dem Start einschalten (mit\n"
           "                         --power-on-open: MS ms nach dem ersten Öffnen)\n"
           "  --power-on-open        den Chip einschalten, wenn der Host die Schnittstelle\n"
           "                         öffnet\n"
           "  --reset-on-open        den Chip bei jedem Öffnen der Schnittstelle über den\n"
           "                         RESET-Pin zurücksetzen (wie eine DTR-Reset-Schaltung)\n"
           "  --no-baud-check        die Baudrate des Hosts nicht prüfen\n"
           "  --one-wire PIN         statt der UART eine Eindrahtleitung an diesem Pin (z. B.\n"
           "                         PB1): Host und Chip senden und empfangen auf ihr\n"
           "  --clock-error PROZENT  der Takt des Chips weicht so weit ab (z. B. 8 oder -8)\n"
           "  --power-cut-at-write ADR  Stromausfall, sobald die Seite ADR geschrieben wird\n"
           "                         (ihr Löschen davor ist geschehen); Ende mit Status 4\n"
           "  --rxd-low              RXD auf Low halten (wie ein Adapter ohne Strom): in jedem\n"
           "                         Rahmen eine 0x00 mit Rahmenfehler, die Bytes des Hosts\n"
           "                         gehen verloren\n"
           "  --pause-every N:MS     nach je N Bytes des Hosts die Leitung MS ms anhalten\n"
           "                         (Chip-Zeit; die Bytes warten)\n"
           "  --max-time S           spätestens nach S Sekunden enden\n"
           "  --help, -h             diese Hilfe anzeigen\n"
           "  --version              Version anzeigen\n";
}

std::optional<TOptions> ParseOptions(int argc, char** argv) {
    TOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        long long n = 0;
        bool ok = true;
        if (a == "--power-on-open") {
            o.PowerOnOpen = true;
        } else if (a == "--reset-on-open") {
            o.ResetOnOpen = true;
        } else if (a == "--no-baud-check") {
            o.NoBaudCheck = true;
        } else if (a == "--rxd-low") {
            o.RxdLow = true;
        } else if (a == "--no-pins") {
            o.NoPins = true;
        } else if (a == "--help" || a == "-h") {
            Usage(std::cout);
            std::exit(0);
        } else if (a == "--version") {
            std::cout << "tarnwick-avrsim " TARNWICK_VERSION "\n";
            std::exit(0);
        } else if (a.rfind("--", 0) != 0) {
            if (!o.Firmware.empty()) {
                std::cerr << "tarnwick-avrsim: nur eine Firmware-Datei: " << a << "\n";
                return std::nullopt;
            }
            o.Firmware = a;
        } else {
            static const char* const valueOptions[] = {"--mcu",         "--frequency",
                                                       "--app",         "--boot-address",
                                                       "--flash",       "--eeprom",
                                                       "--pins",        "--trace",
                                                       "--max-time",    "--power-on-delay",
                                                       "--pause-every", "--one-wire",
                                                       "--clock-error", "--power-cut-at-write"};
            if (std::find(std::begin(valueOptions), std::end(valueOptions), a) ==
                std::end(valueOptions)) {
                std::cerr << "tarnwick-avrsim: unbekannte Option " << a << "\n\n";
                Usage(std::cerr);
                return std::nullopt;
            }
            if (i + 1 >= argc) {
                std::cerr << "tarnwick-avrsim: " << a << " braucht einen Wert\n";
                return std::nullopt;
            }
            const std::string v = argv[++i];
            if (a == "--mcu") {
                o.Mcu = v;
                ok = !v.empty();
            } else if (a == "--frequency") {
                ok = toolcommon::ParseNumber(v, 1000, 100000000, 0, n);
                o.Frequency = static_cast<std::uint32_t>(n);
            } else if (a == "--app") {
                o.App = v;
            } else if (a == "--boot-address") {
                // Base 0: addresses may be given in hex (0x7C00).
                ok = toolcommon::ParseNumber(v, 0, 0xFFFFFF, 0, n);
                o.BootAddress = static_cast<std::uint32_t>(n);
            } else if (a == "--flash") {
                o.FlashFile = v;
            } else if (a == "--eeprom") {
                o.EepromFile = v;
            } else if (a == "--trace") {
                o.TraceFile = v;
            } else if (a == "--pins") {
                o.PinsFile = v;
            } else if (a == "--power-on-delay") {
                ok = toolcommon::ParseNumber(v, 0, 3600000, 0, n);
                o.PowerOnDelayMs = static_cast<int>(n);
            } else if (a == "--one-wire") {
                ok = v.size() == 3 && v[0] == 'P' && v[1] >= 'A' && v[1] <= 'L' && v[2] >= '0' &&
                     v[2] <= '7';
                o.OneWirePort = ok ? v[1] : 0;
                o.OneWireBit = ok ? v[2] - '0' : 0;
            } else if (a == "--clock-error") {
                char* end = nullptr;
                o.ClockErrorPercent = std::strtod(v.c_str(), &end);
                ok = end != v.c_str() && *end == '\0' && o.ClockErrorPercent > -50 &&
                     o.ClockErrorPercent < 50;
            } else if (a == "--power-cut-at-write") {
                ok = toolcommon::ParseNumber(v, 0, 0xFFFFFF, 0, n);
                o.PowerCutAtWrite = static_cast<std::uint32_t>(n);
            } else if (a == "--pause-every") {
                const auto colon = v.find(':');
                long long ms = 0;
                ok = colon != std::string::npos &&
                     toolcommon::ParseNumber(v.substr(0, colon), 1, 1000000, 0, n) &&
                     toolcommon::ParseNumber(v.substr(colon + 1), 1, 10000, 0, ms);
                o.PauseEvery = static_cast<int>(n);
                o.PauseMs = static_cast<int>(ms);
            } else if (a == "--max-time") {
                ok = toolcommon::ParseNumber(v, 1, 86400 * 7, 0, n);
                o.MaxTimeS = static_cast<double>(n);
            }
            if (!ok) {
                std::cerr << "tarnwick-avrsim: ungültiger Wert für " << a << ": " << v << "\n";
                return std::nullopt;
            }
        }
    }
    if (o.Firmware.empty() && o.FlashFile.empty()) {
        std::cerr << "tarnwick-avrsim: eine Firmware-Datei oder --flash DATEI fehlt\n\n";
        Usage(std::cerr);
        return std::nullopt;
    }
    return o;
}

}  // namespace avrsim
