// What the tarnwick-cli update tests share: a HEX file of a small image, the output split
// into lines, the end of what the device received, the texts of the two first dialogs and a
// terminal for the tool's standard input.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "devsim_process.h"
#include "hex_record.h"

namespace tarnwick::test {

using TBytes = std::vector<std::uint8_t>;

inline const TBytes Image = {0x0C, 0x94, 0x13, 0x00, 0xA5, 0x11, 0x24, 0xFF, 0x1F, 0xBE};

// An Intel-HEX file with Image at address 0.
inline std::string WriteHex(const std::string& Dir) {
    const std::string path = Dir + "/image.hex";
    std::ofstream(path) << DataRecord(0, Image) << "\n" << EofRecord << "\n";
    return path;
}

inline std::vector<std::string> Lines(const std::string& Text) {
    std::vector<std::string> lines;
    std::istringstream in(Text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

inline bool EndsWith(const TBytes& Bytes, const TBytes& Tail) {
    return Bytes.size() >= Tail.size() &&
           std::equal(Tail.begin(), Tail.end(), Bytes.end() - static_cast<long>(Tail.size()));
}

inline const std::string Question =
    "Warnung: Die Aktualisierung der Firmware kann nicht mehr rückgängig gemacht werden. Im "
    "Fehlerfall kann das Gerät beschädigt werden. Update wirklich durchführen?";
inline const std::string SwitchOff =
    "Schalten Sie nun das Gerät aus und warten Sie, bis die Software Sie zum Wiedereinschalten "
    "auffordert.";

// A terminal for the tool's standard input; the test types on its master side.
class TTerminal {
  public:
    TTerminal() {
        Master = posix_openpt(O_RDWR | O_NOCTTY);
        if (Master < 0 || grantpt(Master) != 0 || unlockpt(Master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        SlavePath = ptsname(Master);
    }
    ~TTerminal() { close(Master); }
    TTerminal(const TTerminal&) = delete;
    TTerminal& operator=(const TTerminal&) = delete;

    // Whoever reads the other side gets Text; once the tool has ended nobody does.
    void Type(const std::string& Text) {
        [[maybe_unused]] const auto written = write(Master, Text.data(), Text.size());
    }

    std::string SlavePath;

  private:
    int Master = -1;
};

}  // namespace tarnwick::test
