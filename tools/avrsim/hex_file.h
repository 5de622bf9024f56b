// Intel-HEX files as a chip programmer reads them: every data record, whatever the
// number of separate chunks, with extended segment and linear addresses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace avrsim {

struct THexChunk {
    std::uint32_t Address;
    std::vector<std::uint8_t> Bytes;
};

struct THexImage {
    std::vector<THexChunk> Chunks;  // in file order, neighbouring records joined
    std::string Error;              // empty when the file was read whole

    bool Empty() const { return Chunks.empty(); }
    std::uint32_t LowestAddress() const;
    std::uint32_t EndAddress() const;  // one past the highest byte
};

THexImage ParseHex(const std::string& Text);
THexImage ReadHexFile(const std::string& Path);

}  // namespace avrsim
