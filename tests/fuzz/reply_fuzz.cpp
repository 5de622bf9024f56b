// Reply reception: arbitrary bytes in any state, handed over in arbitrary chunks,
// give what the same bytes give one by one.
#include <vector>

#include "fuzz_input.h"
#include "reply_reception.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    fuzz::TFuzzInput input(Data, Size);
    TReplyFields start;
    // Any value at all, not only the states the passes set.
    start.ReplyState = static_cast<TReplyState>(static_cast<std::int8_t>(input.Byte()) % 12);
    start.OneWireMode = (input.Byte() & 1) != 0;
    start.SkipCount = input.Byte() % 4;
    start.ReplyActive = (input.Byte() & 1) != 0;
    const std::string_view password = input.Piece();
    const std::string_view chunking = input.Piece();
    const std::string_view bytes = input.All();
    const std::span<const std::uint8_t> all(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                            bytes.size());

    std::vector<std::string> warningsInChunks;
    TReplyFields inChunks = start;
    std::size_t at = 0;
    for (std::size_t i = 0; at < all.size(); ++i) {
        const std::size_t size = chunking.empty()
                                     ? all.size()
                                     : static_cast<std::uint8_t>(chunking[i % chunking.size()]);
        const std::size_t take = std::min(size, all.size() - at);
        ReceiveReplyBytes(inChunks, all.subspan(at, take), password, "$A5",
                          [&](const std::string& Text) { warningsInChunks.push_back(Text); });
        at += take;
    }

    std::vector<std::string> warningsOneByOne;
    TReplyFields oneByOne = start;
    for (std::size_t i = 0; i < all.size(); ++i) {
        ReceiveReplyBytes(oneByOne, all.subspan(i, 1), password, "$A5",
                          [&](const std::string& Text) { warningsOneByOne.push_back(Text); });
    }
    FUZZ_CHECK(inChunks == oneByOne);
    FUZZ_CHECK(warningsInChunks == warningsOneByOne);
    FUZZ_CHECK(inChunks.ReplyState == start.ReplyState);  // only the waiting pass sets it
    FUZZ_CHECK(inChunks.ReplyText.size() % 2 == 0);
    return 0;
}
