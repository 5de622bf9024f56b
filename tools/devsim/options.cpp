#include "options.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <iterator>

#include "number_option.h"

namespace devsim {

namespace {

using TBytes = std::vector<std::uint8_t>;

bool ParseHexBytes(const std::string& text, TBytes& out) {
    if (text.empty() || text.size() % 2 != 0)
        return false;
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        char* end = nullptr;
        const std::string part = text.substr(i, 2);
        const long v = std::strtol(part.c_str(), &end, 16);
        if (end != part.c_str() + 2)
            return false;
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return true;
}

bool ParseLong(const std::string& text, long low, long high, long& out) {
    long long v = 0;
    if (!toolcommon::ParseNumber(text, low, high, 10, v))
        return false;
    out = static_cast<long>(v);
    return true;
}

}  // namespace

void Usage(std::ostream& out) {
    out << "Aufruf: tarnwick-devsim [OPTIONEN]\n"
           "\n"
           "Simulierter AVR-Bootloader an einem Pseudo-Terminal. Die erste Zeile der Ausgabe\n"
           "ist dessen Pfad, die Schnittstelle für den Host.\n"
           "\n"
           "Optionen:\n"
           "  --password TEXT        Bootloader-Passwort (Vorgabe Kiwu)\n"
           "  --boot-version X.Y     Bootloader-Version (Vorgabe 2.1)\n"
           "  --signature HEX        Signatur des Chips, 6 Hex-Ziffern (Vorgabe 1E9307)\n"
           "  --buffer N             Größe des Empfangspuffers (Vorgabe 64)\n"
           "  --flash N              Flash-Größe in Byte (Vorgabe 8192)\n"
           "  --echo                 jedes empfangene Byte zurücksenden (Eindrahtleitung)\n"
           "  --no-crc               CRC-Prüfung ablehnen\n"
           "  --no-verify            Überprüfung ablehnen\n"
           "  --wrong-verdict        das umgekehrte Ergebnis der Überprüfung melden\n"
           "  --silent               nie etwas senden\n"
           "  --power-on-delay MS    MS ms nach dem Start alles ignorieren\n"
           "  --drop-byte N          Byte N nach dem Verbinden verlieren\n"
           "  --corrupt-byte N       im Byte N nach dem Verbinden das unterste Bit kippen\n"
           "  --withhold-ack N       kein 0xA9 für den N-ten vollen Puffer senden\n"
           "  --withhold-confirm     das Passwort annehmen (0xA6), die Verbindung nie\n"
           "                         bestätigen\n"
           "  --accept-from-byte N   das Passwort erst mit dem N-ten empfangenen Byte annehmen\n"
           "  --withhold-crc-verdict N\n"
           "                         kein Ergebnis der N-ten CRC-Prüfung senden\n"
           "  --withhold-program-end nach dem Ende des Programmierens nichts senden\n"
           "  --withhold-verdict     nach dem Ende der Überprüfung kein Ergebnis senden\n"
           "  --trace DATEI          jedes empfangene Byte mit seiner Zeit schreiben\n"
           "  --flash-in DATEI       mit diesem Flash-Inhalt statt eines gelöschten beginnen\n"
           "  --flash-out DATEI      den Flash nach jedem Programmieren und am Ende schreiben\n"
           "  --exit-after-success   nach dem Erfolgsbefehl enden\n"
           "  --exit-after-close     nach den Schlusskommandos enden, wie das Update auch\n"
           "                         ausging (ein Gerät, das danach abgezogen wird)\n"
           "  --max-time S           spätestens nach S Sekunden enden\n"
           "  --line-rate BAUD       Bytes nicht schneller annehmen und beantworten als eine\n"
           "                         Leitung mit BAUD Baud\n"
           "  --tarnwick-mark        in jeder Antwort auf eine Abfrage nach 0xA8 die Kennung\n"
           "                         0x54 des Tarnwick-Bootloaders senden (Leitungstempo)\n"
           "  --help, -h             diese Hilfe anzeigen\n"
           "  --version              Version anzeigen\n";
}

std::optional<TOptions> ParseOptions(int argc, char** argv) {
    TOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc)
                return std::nullopt;
            return std::string(argv[++i]);
        };
        long n = 0;
        bool ok = true;
        if (a == "--echo") {
            o.Echo = true;
        } else if (a == "--no-crc") {
            o.NoCrc = true;
        } else if (a == "--no-verify") {
            o.NoVerify = true;
        } else if (a == "--wrong-verdict") {
            o.WrongVerdict = true;
        } else if (a == "--silent") {
            o.Silent = true;
        } else if (a == "--withhold-confirm") {
            o.WithholdConfirm = true;
        } else if (a == "--withhold-program-end") {
            o.WithholdProgramEnd = true;
        } else if (a == "--withhold-verdict") {
            o.WithholdVerdict = true;
        } else if (a == "--tarnwick-mark") {
            o.TarnwickMark = true;
        } else if (a == "--exit-after-success") {
            o.ExitAfterSuccess = true;
        } else if (a == "--exit-after-close") {
            o.ExitAfterClose = true;
        } else if (a == "--help" || a == "-h") {
            Usage(std::cout);
            std::exit(0);
        } else if (a == "--version") {
            std::cout << "tarnwick-devsim " TARNWICK_VERSION "\n";
            std::exit(0);
        } else {
            static const char* const valueOptions[] = {"--password",
                                                       "--boot-version",
                                                       "--signature",
                                                       "--buffer",
                                                       "--flash",
                                                       "--power-on-delay",
                                                       "--drop-byte",
                                                       "--corrupt-byte",
                                                       "--withhold-ack",
                                                       "--trace",
                                                       "--flash-out",
                                                       "--flash-in",
                                                       "--max-time",
                                                       "--line-rate",
                                                       "--accept-from-byte",
                                                       "--withhold-crc-verdict"};
            if (std::find(std::begin(valueOptions), std::end(valueOptions), a) ==
                std::end(valueOptions)) {
                std::cerr << "tarnwick-devsim: unbekannte Option " << a << "\n\n";
                Usage(std::cerr);
                return std::nullopt;
            }
            const auto v = value();
            if (!v) {
                std::cerr << "tarnwick-devsim: " << a << " braucht einen Wert\n";
                return std::nullopt;
            }
            if (a == "--password") {
                o.Password = *v;
            } else if (a == "--boot-version") {
                const auto dot = v->find('.');
                long major = 0, minor = 0;
                ok = dot != std::string::npos && ParseLong(v->substr(0, dot), 0, 99, major) &&
                     ParseLong(v->substr(dot + 1), 0, 99, minor);
                // Each part goes out as two decimal digits in one byte: 2.10 is 0x02 0x10.
                o.VersionMajor = static_cast<std::uint8_t>(major / 10 * 16 + major % 10);
                o.VersionMinor = static_cast<std::uint8_t>(minor / 10 * 16 + minor % 10);
            } else if (a == "--signature") {
                ok = ParseHexBytes(*v, o.Signature);
            } else if (a == "--buffer") {
                ok = ParseLong(*v, 0, 65535, n);
                o.BufferSize = static_cast<std::uint32_t>(n);
            } else if (a == "--flash") {
                ok = ParseLong(*v, 1, 16 * 1024 * 1024, n);
                o.FlashSize = static_cast<std::uint32_t>(n);
            } else if (a == "--power-on-delay") {
                ok = ParseLong(*v, 0, 3600000, n);
                o.PowerOnDelayMs = static_cast<int>(n);
            } else if (a == "--drop-byte") {
                ok = ParseLong(*v, 1, 1L << 40, o.DropByte);
            } else if (a == "--corrupt-byte") {
                ok = ParseLong(*v, 1, 1L << 40, o.CorruptByte);
            } else if (a == "--withhold-ack") {
                ok = ParseLong(*v, 1, 1L << 40, o.WithholdAck);
            } else if (a == "--accept-from-byte") {
                ok = ParseLong(*v, 1, 1L << 40, o.AcceptFromByte);
            } else if (a == "--withhold-crc-verdict") {
                ok = ParseLong(*v, 1, 1L << 40, o.WithholdCrcVerdict);
            } else if (a == "--trace") {
                o.TraceFile = *v;
            } else if (a == "--flash-in") {
                o.FlashIn = *v;
            } else if (a == "--flash-out") {
                o.FlashOut = *v;
            } else if (a == "--line-rate") {
                ok = ParseLong(*v, 50, 4000000, o.LineRate);
            } else if (a == "--max-time") {
                ok = ParseLong(*v, 1, 86400 * 7, n);
                o.MaxTimeS = static_cast<double>(n);
            } else {
                std::cerr << "tarnwick-devsim: unbekannte Option " << a << "\n\n";
                Usage(std::cerr);
                return std::nullopt;
            }
            if (!ok) {
                std::cerr << "tarnwick-devsim: ungültiger Wert für " << a << ": " << *v << "\n";
                return std::nullopt;
            }
        }
    }
    return o;
}

}  // namespace devsim
