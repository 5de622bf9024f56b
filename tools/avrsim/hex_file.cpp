#include "hex_file.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace avrsim {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

std::uint32_t THexImage::LowestAddress() const {
    std::uint32_t low = UINT32_MAX;
    for (const auto& c : Chunks)
        low = std::min(low, c.Address);
    return low;
}

std::uint32_t THexImage::EndAddress() const {
    std::uint32_t end = 0;
    for (const auto& c : Chunks)
        end = std::max(end, c.Address + static_cast<std::uint32_t>(c.Bytes.size()));
    return end;
}

THexImage ParseHex(const std::string& text) {
    THexImage image;
    std::istringstream in(text);
    std::string line;
    std::uint32_t base = 0;
    int lineNo = 0;
    auto fail = [&](const std::string& what) {
        image.Error = "Zeile " + std::to_string(lineNo) + ": " + what;
        return image;
    };
    while (std::getline(in, line)) {
        ++lineNo;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line.empty())
            continue;
        if (line[0] != ':' || line.size() < 11 || line.size() % 2 == 0)
            return fail("kein Intel-HEX-Satz");
        std::vector<std::uint8_t> rec;
        for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
            const int hi = HexDigit(line[i]);
            const int lo = HexDigit(line[i + 1]);
            if (hi < 0 || lo < 0)
                return fail("keine Hex-Ziffer");
            rec.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
        if (rec.size() != static_cast<std::size_t>(rec[0]) + 5)
            return fail("falsche Länge");
        std::uint8_t sum = 0;
        for (const std::uint8_t b : rec)
            sum = static_cast<std::uint8_t>(sum + b);
        if (sum != 0)
            return fail("falsche Prüfsumme");
        const std::uint32_t offset = (static_cast<std::uint32_t>(rec[1]) << 8) | rec[2];
        const std::uint8_t type = rec[3];
        const std::uint8_t* data = rec.data() + 4;
        const std::size_t count = rec[0];
        if (type == 0x00) {
            const std::uint32_t address = base + offset;
            if (!image.Chunks.empty() &&
                image.Chunks.back().Address + image.Chunks.back().Bytes.size() == address) {
                image.Chunks.back().Bytes.insert(image.Chunks.back().Bytes.end(), data,
                                                 data + count);
            } else {
                image.Chunks.push_back({address, std::vector<std::uint8_t>(data, data + count)});
            }
        } else if (type == 0x01) {
            break;
        } else if (type == 0x02 && count == 2) {
            base = ((static_cast<std::uint32_t>(data[0]) << 8) | data[1]) << 4;
        } else if (type == 0x04 && count == 2) {
            base = ((static_cast<std::uint32_t>(data[0]) << 8) | data[1]) << 16;
        } else if (type == 0x03 || type == 0x05) {
            // Start addresses mean nothing to a chip: it starts at its reset vector.
        } else {
            return fail("unbekannter Satztyp");
        }
    }
    return image;
}

THexImage ReadHexFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        THexImage image;
        image.Error = "nicht lesbar";
        return image;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ParseHex(text.str());
}

}  // namespace avrsim
