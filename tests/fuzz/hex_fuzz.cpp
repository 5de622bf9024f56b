// The HEX loader over arbitrary text, whole and cut in two, and the program view's
// rows over what it loaded and at any address at all.
#include <cstring>

#include "firmware_image.h"
#include "fuzz_input.h"
#include "program_rows.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    fuzz::TFuzzInput input(Data, Size);
    std::int32_t rowAddress = 0;
    for (int i = 0; i < 4; ++i) {
        rowAddress =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(rowAddress) << 8 | input.Byte());
    }
    const std::size_t cut = input.Byte();
    const std::string_view text = input.All();

    // Kept between runs: a fresh 256 KiB image per run would cost more than the load.
    static TBuffer image;
    static TBuffer pieces;
    std::int32_t highest = -1;
    const int result = LoadHexText(text, image, highest, MaxFlashSize);
    FUZZ_CHECK(result >= HexDuplicate && result <= HexLoaded);
    FUZZ_CHECK(image.size() == static_cast<std::size_t>(MaxFlashSize));
    FUZZ_CHECK(highest >= 0 && highest < MaxFlashSize);

    // The same text in two pieces loads alike.
    std::int32_t piecesHighest = -1;
    int piecesResult = 0;
    {
        THexReader reader(pieces, piecesHighest, MaxFlashSize);
        if (reader.Feed(text.substr(0, cut))) {
            reader.Feed(text.substr(std::min(cut, text.size())));
        }
        piecesResult = reader.Finish();
    }
    FUZZ_CHECK(piecesResult == result);
    FUZZ_CHECK(piecesHighest == highest);
    FUZZ_CHECK(pieces == image);

    // All rows only for small images, which the fuzzer mostly makes; the rows of a
    // large one are the same code run longer.
    if (result == HexLoaded && highest < 4096) {
        const auto rows = BuildProgramRows(image, false, highest);
        FUZZ_CHECK(rows.size() == static_cast<std::size_t>(highest) / 16 + 1);
        const TProgramRow& last = rows.back();
        FUZZ_CHECK(last.Bytes.size() == static_cast<std::size_t>(highest % 16) + 1);
        FUZZ_CHECK(std::memcmp(last.Bytes.data(), image.data() + (highest / 16) * 16,
                               last.Bytes.size()) == 0);
    }
    // Any address, also before or far past the image: the row reads nothing outside it.
    const TProgramRow row = MakeProgramRow(image, rowAddress, 16);
    FUZZ_CHECK(row.Address.size() == 7);
    FUZZ_CHECK(row.Bytes.size() <= 16);
    const TProgramRow emptyRow = MakeProgramRow(TBuffer{}, rowAddress, 16);
    FUZZ_CHECK(emptyRow.Bytes.empty());
    return 0;
}
