#include "options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <iterator>

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
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < low || v > high)
        return false;
    out = v;
    return true;
}

}  // namespace

void Usage(std::ostream& out) {
    out << "usage: tarnwick-devsim [options]\n"
           "  --password TEXT        bootloader password (default Kiwu)\n"
           "  --version X.Y          bootloader version (default 2.1)\n"
           "  --signature HEX        chip signature, 6 hex digits (default 1E9307)\n"
           "  --buffer N             receive buffer size (default 64)\n"
           "  --flash N              flash size in bytes (default 8192)\n"
           "  --echo                 return every received byte (single-wire line)\n"
           "  --no-crc               refuse the CRC check\n"
           "  --no-verify            refuse verification\n"
           "  --wrong-verdict        report the opposite verification verdict\n"
           "  --silent               never send anything\n"
           "  --power-on-delay MS    ignore everything for MS ms after start\n"
           "  --drop-byte N          lose byte N after the connection\n"
           "  --corrupt-byte N       flip the lowest bit of byte N after the connection\n"
           "  --withhold-ack N       send no 0xA9 for the N-th buffer-full\n"
           "  --trace FILE           write every received byte with its time\n"
           "  --flash-in FILE        start with this flash content instead of an erased one\n"
           "  --flash-out FILE       write the flash after programming and at exit\n"
           "  --exit-after-success   end after the success command\n"
           "  --max-time S           end after S seconds in any case\n"
           "  --line-rate BAUD       take and answer bytes no faster than a line at BAUD\n";
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
        } else if (a == "--exit-after-success") {
            o.ExitAfterSuccess = true;
        } else if (a == "--help" || a == "-h") {
            Usage(std::cout);
            std::exit(0);
        } else {
            static const char* const valueOptions[] = {
                "--password",       "--version",   "--signature",    "--buffer",       "--flash",
                "--power-on-delay", "--drop-byte", "--corrupt-byte", "--withhold-ack", "--trace",
                "--flash-out",      "--flash-in",  "--max-time",     "--line-rate"};
            if (std::find(std::begin(valueOptions), std::end(valueOptions), a) ==
                std::end(valueOptions)) {
                std::cerr << "tarnwick-devsim: unknown option " << a << "\n";
                Usage(std::cerr);
                return std::nullopt;
            }
            const auto v = value();
            if (!v) {
                std::cerr << "tarnwick-devsim: " << a << " needs a value\n";
                return std::nullopt;
            }
            if (a == "--password") {
                o.Password = *v;
            } else if (a == "--version") {
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
                std::cerr << "tarnwick-devsim: unknown option " << a << "\n";
                Usage(std::cerr);
                return std::nullopt;
            }
            if (!ok) {
                std::cerr << "tarnwick-devsim: bad value for " << a << ": " << *v << "\n";
                return std::nullopt;
            }
        }
    }
    return o;
}

}  // namespace devsim
