// Loading a full-size HEX file and building every row of the program view.
// Goal: both together well under 20 ms in a Release build.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "firmware_image.h"
#include "hex_record.h"
#include "program_rows.h"

namespace {

using namespace tarnwick;

// A HEX file with MaxFlashSize data bytes in 16-byte records, CR LF line ends
// and a segment record every 64 KiB, as a full flash dump would have.
class TFullHexFile {
  public:
    TFullHexFile() {
        Name = (std::filesystem::temp_directory_path() /
                ("tarnwick-bench-" + std::to_string(::getpid()) + ".hex"))
                   .string();
        std::ofstream out(Name, std::ios::binary);
        for (int address = 0; address < MaxFlashSize; address += 16) {
            if (address % 0x10000 == 0) {
                out << test::SegmentRecord(static_cast<std::uint16_t>(address >> 4)) << "\r\n";
            }
            std::vector<std::uint8_t> data(16);
            for (int i = 0; i < 16; ++i) {
                data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(address * 7 + i);
            }
            out << test::DataRecord(static_cast<std::uint16_t>(address & 0xFFFF), data) << "\r\n";
        }
        out << test::EofRecord << "\r\n";
    }
    ~TFullHexFile() { std::filesystem::remove(Name); }
    TFullHexFile(const TFullHexFile&) = delete;
    TFullHexFile& operator=(const TFullHexFile&) = delete;

    std::string Name;
};

const TFullHexFile& FullHexFile() {
    static const TFullHexFile file;
    return file;
}

// Loads the full-size file; when it does not load, marks the run failed and returns false.
bool LoadFullHexFile(benchmark::State& State, TBuffer& Image, std::int32_t& Highest) {
    if (LoadHexFile(FullHexFile().Name, Image, Highest, MaxFlashSize) == HexLoaded)
        return true;
    State.SkipWithError("load failed");
    return false;
}

void BM_LoadHexFile(benchmark::State& State) {
    TBuffer image;
    std::int32_t highest = 0;
    for (auto _ : State) {
        if (!LoadFullHexFile(State, image, highest))
            break;
        benchmark::DoNotOptimize(image.data());
    }
}
BENCHMARK(BM_LoadHexFile)->Unit(benchmark::kMillisecond);

// The same text from memory, as tests and the fuzz target load it.
void BM_LoadHexText(benchmark::State& State) {
    std::ifstream in(FullHexFile().Name, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    TBuffer image;
    std::int32_t highest = 0;
    for (auto _ : State) {
        if (LoadHexText(text, image, highest, MaxFlashSize) != HexLoaded) {
            State.SkipWithError("load failed");
            break;
        }
    }
}
BENCHMARK(BM_LoadHexText)->Unit(benchmark::kMillisecond);

void BM_BuildAllProgramRows(benchmark::State& State) {
    const TBuffer image(MaxFlashSize, 0x5A);
    for (auto _ : State) {
        auto rows = BuildProgramRows(image, true, 0, [](std::int32_t) {});
        benchmark::DoNotOptimize(rows.data());
    }
}
BENCHMARK(BM_BuildAllProgramRows)->Unit(benchmark::kMillisecond);

// What the window does after choosing a full-size file: load, then fill the view.
void BM_LoadAndBuildRows(benchmark::State& State) {
    TBuffer image;
    std::int32_t highest = 0;
    for (auto _ : State) {
        if (!LoadFullHexFile(State, image, highest))
            break;
        auto rows = BuildProgramRows(image, false, highest, [](std::int32_t) {});
        if (rows.size() != 16384) {
            State.SkipWithError("wrong row count");
            break;
        }
        benchmark::DoNotOptimize(rows.data());
    }
}
BENCHMARK(BM_LoadAndBuildRows)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
