#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <csignal>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "firmware_image.h"
#include "hex_record.h"
#include "temp_dir.h"

namespace tarnwick {
namespace {

using test::DataRecord;
using test::EofRecord;
using test::HexRecord;
using test::SegmentRecord;

// The same record with its checksum off by one.
std::string BadChecksum(std::string Line) {
    char& last = Line.back();
    last = last == '0' ? '1' : '0';
    return Line;
}

std::string Lower(std::string Text) {
    std::transform(Text.begin(), Text.end(), Text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return Text;
}

std::string Join(const std::vector<std::string>& Lines, const std::string& LineEnd = "\n") {
    std::string text;
    for (const auto& line : Lines) {
        text += line + LineEnd;
    }
    return text;
}

std::vector<std::uint8_t> Bytes(std::size_t Count, std::uint8_t First) {
    std::vector<std::uint8_t> bytes(Count);
    for (std::size_t i = 0; i < Count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(First + i);
    }
    return bytes;
}

int OpenDescriptorCount() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        throw std::runtime_error("no /proc/self/fd");
    }
    while (readdir(dir) != nullptr) {
        ++count;
    }
    closedir(dir);
    return count;
}

struct TLoadCase {
    std::string Name;
    std::string Text;  // the whole file
    int Result;
    std::int32_t HighestAddress;
    // Bytes of the image to check after the load: address and value.
    std::vector<std::pair<std::int32_t, std::uint8_t>> Expect;
};

std::ostream& operator<<(std::ostream& Out, const TLoadCase& Case) {
    return Out << Case.Name;
}

const std::vector<TLoadCase>& LoadCases() {
    static const std::vector<TLoadCase> cases = {
        {"EofRecordOnly", Join({EofRecord}), HexLoaded, 0, {{0, 0xFF}}},
        {"DataThenEof",
         Join({DataRecord(0x0100, {0x0C, 0x94, 0x2A, 0x00}), EofRecord}),
         HexLoaded,
         0x103,
         {{0xFF, 0xFF}, {0x100, 0x0C}, {0x101, 0x94}, {0x102, 0x2A}, {0x103, 0x00}, {0x104, 0xFF}}},
        {"EmptyLineAfterEof", Join({DataRecord(0, {1, 2}), EofRecord, ""}), HexLoaded, 1, {{1, 2}}},
        {"NoLineEndAfterEof", Join({DataRecord(0, {1, 2})}) + EofRecord, HexLoaded, 1, {{0, 1}}},
        {"CrLfLineEnds",
         Join({DataRecord(0, {1, 2}), EofRecord, ""}, "\r\n"),
         HexLoaded,
         1,
         {{1, 2}}},
        {"MissingEofRecord", Join({DataRecord(0x10, {7, 8, 9})}), HexIncomplete, 0x12, {{0x12, 9}}},
        {"EmptyFile", "", HexIncomplete, 0, {{0, 0xFF}}},
        {"BlankBeforeColon",
         Join({" " + DataRecord(0, {1}), EofRecord}),
         HexNoIntelHex,
         0,
         {{0, 0xFF}}},
        {"NoColonAfterGoodRecord",
         Join({DataRecord(0, {5}), "10000000", EofRecord}),
         HexNoIntelHex,
         0,
         {{0, 5}}},
        {"ExtendedLinearAddressRecord",
         Join({":020000040001F9", DataRecord(0, {1}), EofRecord}),
         HexUnknownRecord,
         0,
         {{0, 0xFF}}},
        {"StartSegmentAddressRecord",
         Join({DataRecord(0, {1}), ":0400000300003800C1", EofRecord}),
         HexUnknownRecord,
         0,
         {{0, 1}}},
        {"UnknownTypeAfterEof",
         Join({EofRecord, HexRecord(0x05, 0, {0, 0, 0, 0})}),
         HexUnknownRecord,
         0,
         {}},
        // The highest address moves before the checksum is judged; the bytes are stored.
        {"BadDataChecksum",
         Join({BadChecksum(DataRecord(0x20, {0xAA, 0xBB})), EofRecord}),
         HexBadChecksum,
         0x21,
         {{0x20, 0xAA}, {0x21, 0xBB}}},
        {"BadEofChecksum", Join({DataRecord(0, {1}), ":00000001FE"}), HexBadChecksum, 0, {}},
        {"BadChecksumAfterEof",
         Join({EofRecord, BadChecksum(DataRecord(0, {1}))}),
         HexBadChecksum,
         0,
         {{0, 1}}},
        {"BadSegmentChecksum",
         Join({BadChecksum(SegmentRecord(0x1000)), EofRecord}),
         HexBadChecksum,
         0,
         {}},
        {"SameRecordTwice",
         Join({DataRecord(0x40, {0xFF, 0x12}), DataRecord(0x40, {0xFF, 0x12}), EofRecord}),
         HexDuplicate,
         0x41,
         {{0x41, 0x12}}},
        {"DifferentValueOverwrites",
         Join({DataRecord(0x40, {0x11, 0x12}), DataRecord(0x40, {0x21, 0x22}), EofRecord}),
         HexLoaded,
         0x41,
         {{0x40, 0x21}, {0x41, 0x22}}},
        {"FfOverFfAccepted",
         Join({DataRecord(0, {0xFF, 0xFF}), DataRecord(0, {0xFF}), EofRecord}),
         HexLoaded,
         1,
         {{0, 0xFF}}},
        // Bytes before the duplicate one are stored, the rest of the record is not.
        {"DuplicateInsideRecord",
         Join({DataRecord(2, {0x33}), DataRecord(0, {0x10, 0x11, 0x33, 0x13}), EofRecord}),
         HexDuplicate,
         2,
         {{0, 0x10}, {1, 0x11}, {2, 0x33}, {3, 0xFF}}},
        {"LastByteAtEndOfImage",
         Join({SegmentRecord(0x3000), DataRecord(0xFFF0, Bytes(16, 0xA0)), EofRecord}),
         HexLoaded,
         262143,
         {{262128, 0xA0}, {262143, 0xAF}}},
        {"LastBytePastEndOfImage",
         Join({DataRecord(0, {1}), SegmentRecord(0x3000), DataRecord(0xFFF1, Bytes(16, 0xA0)),
               EofRecord}),
         HexTooLarge,
         0,
         {{262143, 0xFF}}},
        {"SegmentFarPastImage",
         Join({SegmentRecord(0xF000), DataRecord(0, {1}), EofRecord}),
         HexTooLarge,
         0,
         {}},
        {"SegmentNotWrapped",
         Join({SegmentRecord(0x1000), DataRecord(0x0000, {1, 2, 3, 4}), EofRecord}),
         HexLoaded,
         0x10003,
         {{0x0000, 0xFF}, {0x10000, 1}, {0x10003, 4}}},
        {"SegmentReplacedBySegment",
         Join({SegmentRecord(0x1000), SegmentRecord(0x2000), DataRecord(0x10, {9}), EofRecord}),
         HexLoaded,
         0x20010,
         {{0x10010, 0xFF}, {0x20010, 9}}},
        {"SegmentAddsToOffset",
         Join({SegmentRecord(0x0123), DataRecord(0x0004, {9}), EofRecord}),
         HexLoaded,
         0x1234,
         {{0x1234, 9}}},
        {"LowerCaseDigits",
         Lower(Join(
             {SegmentRecord(0x1000), DataRecord(0xABCD, {0xDE, 0xAD, 0xBE, 0xEF}), EofRecord})),
         HexLoaded,
         0x1ABD0,
         {{0x1ABCD, 0xDE}, {0x1ABD0, 0xEF}}},
        {"HighestRecordFirst",
         Join({DataRecord(0x2000, {1, 2}), DataRecord(0x0000, {3}), DataRecord(0x1000, {4}),
               EofRecord}),
         HexLoaded,
         0x2001,
         {{0x2001, 2}}},
        {"DataAfterEofStoredAndRaisesHighest",
         Join({DataRecord(0, {1}), EofRecord, DataRecord(0x300, {7, 7}), ""}),
         HexLoaded,
         0x301,
         {{0x300, 7}, {0x301, 7}}},
        {"NonHexDigitInDataStopsSilently",
         Join({":04000000AABBZZDD00", EofRecord}),
         HexIncomplete,
         0,
         {{0, 0xAA}, {1, 0xBB}, {2, 0xFF}}},
        {"NonHexDigitAfterEofKeepsResult", Join({EofRecord, ":0G00000000"}), HexLoaded, 0, {}},
        {"TruncatedHeader", Join({":0400", EofRecord}), HexIncomplete, 0, {}},
        {"ColonOnly", Join({":", EofRecord}), HexIncomplete, 0, {}},
        // Without its checksum the record stops the load before the highest address moves.
        {"MissingChecksum", Join({":04000000AABBCCDD", EofRecord}), HexIncomplete, 0, {{3, 0xDD}}},
        {"EmptyLineBeforeEofStops",
         Join({DataRecord(0, {1}), "", DataRecord(0x10, {2}), EofRecord}),
         HexIncomplete,
         0,
         {{0, 1}, {0x10, 0xFF}}},
        {"CrLfEmptyLineBeforeEofStops",
         Join({DataRecord(0, {1}), "", DataRecord(0x10, {2}), EofRecord}, "\r\n"),
         HexIncomplete,
         0,
         {{0x10, 0xFF}}},
        {"CharactersAfterChecksumIgnored",
         Join({DataRecord(0, {1, 2}) + "junk; comment", EofRecord + std::string(3000, 'x')}),
         HexLoaded,
         1,
         {{1, 2}}},
        // The end-of-file record counts before its checksum is read.
        {"EofRecordWithoutChecksum",
         Join({DataRecord(0, {1}), ":00000001"}),
         HexLoaded,
         0,
         {{0, 1}}},
        // The end-of-file record's checksum is read right after the type.
        {"EofRecordWithByteCount", Join({":01000001FE"}), HexLoaded, 0, {}},
        {"ZeroLengthDataRecord",
         Join({DataRecord(0x100, {}), EofRecord}),
         HexLoaded,
         0xFF,
         {{0xFF, 0xFF}}},
    };
    return cases;
}

class HexLoadTest : public ::testing::TestWithParam<TLoadCase> {};

class TRecorder : public TLoadFeedback {
  public:
    void BeginWait() override { Events += "B"; }
    void EndWait() override { Events += "E"; }
    void ProcessMessages() override { Events += "p"; }
    std::string Events;
};

TEST_P(HexLoadTest, ResultHighestAddressAndImage) {
    const TLoadCase& c = GetParam();
    const test::TTempDir dir;
    const std::string file = dir.Write("in.hex", c.Text);

    // A stale image and address from an earlier load must not leak through.
    TBuffer image(1000, 0x00);
    std::int32_t highest = 12345;
    const int descriptorsBefore = OpenDescriptorCount();
    TRecorder feedback;
    const int result = LoadHexFile(file, image, highest, MaxFlashSize, &feedback);

    EXPECT_EQ(result, c.Result);
    EXPECT_EQ(highest, c.HighestAddress);
    ASSERT_EQ(image.size(), static_cast<std::size_t>(MaxFlashSize));
    for (const auto& [address, value] : c.Expect) {
        EXPECT_EQ(image[static_cast<std::size_t>(address)], value) << "address " << address;
    }
    EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore) << "file left open";
    ASSERT_GE(feedback.Events.size(), 2u);
    EXPECT_EQ(feedback.Events.front(), 'B');
    EXPECT_EQ(feedback.Events.back(), 'E');
    EXPECT_EQ(std::count(feedback.Events.begin(), feedback.Events.end(), 'B'), 1);
    EXPECT_EQ(std::count(feedback.Events.begin(), feedback.Events.end(), 'E'), 1);
}

// The memory entry gives what the file loader gives, however the text is cut into
// pieces (a line may end in one piece and its CR or LF come in the next).
TEST_P(HexLoadTest, TextInPiecesOfAnySizeLoadsLikeTheFile) {
    const TLoadCase& c = GetParam();
    for (const std::size_t pieceSize :
         {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{64}, c.Text.size() + 1}) {
        TBuffer image(1000, 0x00);
        std::int32_t highest = 12345;
        TRecorder feedback;
        int result = 0;
        {
            THexReader reader(image, highest, MaxFlashSize, &feedback);
            for (std::size_t at = 0; at < c.Text.size(); at += pieceSize) {
                if (!reader.Feed(std::string_view(c.Text).substr(at, pieceSize))) {
                    break;
                }
            }
            result = reader.Finish();
        }
        EXPECT_EQ(result, c.Result) << "pieces of " << pieceSize;
        EXPECT_EQ(highest, c.HighestAddress) << "pieces of " << pieceSize;
        for (const auto& [address, value] : c.Expect) {
            EXPECT_EQ(image[static_cast<std::size_t>(address)], value) << "address " << address;
        }
        EXPECT_EQ(feedback.Events.front(), 'B');
        EXPECT_EQ(feedback.Events.back(), 'E');
    }
    TBuffer image;
    std::int32_t highest = 0;
    EXPECT_EQ(LoadHexText(c.Text, image, highest, MaxFlashSize), c.Result);
    EXPECT_EQ(highest, c.HighestAddress);
}

INSTANTIATE_TEST_SUITE_P(Records, HexLoadTest, ::testing::ValuesIn(LoadCases()),
                         [](const auto& Info) { return Info.param.Name; });

TEST(HexLoad, UntouchedBytesAreErasedFlash) {
    const test::TTempDir dir;
    const std::string file = dir.Write("in.hex", Join({DataRecord(0x10, {0x00}), EofRecord}));
    TBuffer image(5, 0x00);
    std::int32_t highest = 0;
    ASSERT_EQ(LoadHexFile(file, image, highest, MaxFlashSize), HexLoaded);
    EXPECT_EQ(std::count(image.begin(), image.end(), 0xFF), MaxFlashSize - 1);
    EXPECT_EQ(image[0x10], 0x00);
}

TEST(HexLoad, MessagesPumpedAfterEveryGoodRecordOnly) {
    const test::TTempDir dir;
    const std::string file = dir.Write(
        "in.hex", Join({DataRecord(0, {1}), SegmentRecord(0), EofRecord, BadChecksum(EofRecord)}));
    TRecorder feedback;
    TBuffer image;
    std::int32_t highest = 0;
    EXPECT_EQ(LoadHexFile(file, image, highest, MaxFlashSize, &feedback), HexBadChecksum);
    EXPECT_EQ(feedback.Events, "BpppE");
}

TEST(HexLoad, MissingFileOrDirectoryGivesZeroAndFreshImage) {
    const test::TTempDir dir;
    for (const std::string& name : {dir.File("missing.hex"), dir.Path().string()}) {
        TBuffer image(3, 0x00);
        std::int32_t highest = 77;
        TRecorder feedback;
        EXPECT_EQ(LoadHexFile(name, image, highest, MaxFlashSize, &feedback), HexIncomplete)
            << name;
        EXPECT_EQ(highest, 0);
        EXPECT_EQ(image, TBuffer(MaxFlashSize, 0xFF));
        EXPECT_EQ(feedback.Events, "BE");
    }
}

TEST(HexLoad, CursorRestoredWhenPumpingThrows) {
    class TThrowing : public TRecorder {
      public:
        void ProcessMessages() override { throw std::runtime_error("window gone"); }
    };
    const test::TTempDir dir;
    const std::string file = dir.Write("in.hex", Join({DataRecord(0, {1}), EofRecord}));
    TThrowing feedback;
    TBuffer image;
    std::int32_t highest = 0;
    const int descriptorsBefore = OpenDescriptorCount();
    EXPECT_THROW(LoadHexFile(file, image, highest, MaxFlashSize, &feedback), std::runtime_error);
    EXPECT_EQ(feedback.Events, "BE");
    EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore);
}

TEST(HexLoad, SmallerImageLengthLimitsData) {
    const test::TTempDir dir;
    const std::string file =
        dir.Write("in.hex", Join({DataRecord(0x1FF8, Bytes(8, 1)), EofRecord}));
    TBuffer image;
    std::int32_t highest = 0;
    EXPECT_EQ(LoadHexFile(file, image, highest, 0x2000), HexLoaded);
    EXPECT_EQ(image.size(), 0x2000u);
    EXPECT_EQ(LoadHexFile(file, image, highest, 0x1FFF), HexTooLarge);
}

TEST(HexLoad, LineEndsOfEveryKindLoadTheSameLargeFile) {
    // Many lines, so that line ends also fall on the reader's block boundaries.
    std::vector<std::string> lines;
    for (int segment = 0; segment < 4; ++segment) {
        lines.push_back(SegmentRecord(static_cast<std::uint16_t>(segment * 0x1000)));
        for (int offset = 0; offset < 0x10000; offset += 16) {
            lines.push_back(
                DataRecord(static_cast<std::uint16_t>(offset),
                           Bytes(16, static_cast<std::uint8_t>(offset / 16 + segment))));
        }
    }
    lines.push_back(EofRecord);
    const test::TTempDir dir;
    TBuffer lf;
    TBuffer crlf;
    std::int32_t highestLf = 0;
    std::int32_t highestCrLf = 0;
    ASSERT_EQ(LoadHexFile(dir.Write("lf.hex", Join(lines)), lf, highestLf, MaxFlashSize),
              HexLoaded);
    ASSERT_EQ(
        LoadHexFile(dir.Write("crlf.hex", Join(lines, "\r\n")), crlf, highestCrLf, MaxFlashSize),
        HexLoaded);
    EXPECT_EQ(highestLf, MaxFlashSize - 1);
    EXPECT_EQ(highestCrLf, MaxFlashSize - 1);
    EXPECT_EQ(lf[0x3FFFF], static_cast<std::uint8_t>(0xFFF + 3 + 15));
    EXPECT_TRUE(lf == crlf);
}

// A file far larger than any flash, of valid records that run past the image, is
// refused at the first such record: the rest is never read. A pipe stands for the
// file so that the test can count what the loader took and offer a gigabyte
// without writing one to disk.
TEST(HexLoad, HugeFileRefusedWithoutReadingItAll) {
    const test::TTempDir dir;
    const std::string fifo = dir.File("huge.hex");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The whole flash, then records past it for ever.
    std::string prefix;
    for (int segment = 0; segment < 0x4000; segment += 0x1000) {
        prefix += SegmentRecord(static_cast<std::uint16_t>(segment)) + "\n";
        for (int offset = 0; offset < 0x10000; offset += 16) {
            prefix += DataRecord(static_cast<std::uint16_t>(offset), Bytes(16, 1)) + "\n";
        }
    }
    std::string block = SegmentRecord(0x4000) + "\n";
    for (int offset = 0; offset < 0x10000; offset += 16) {
        block += DataRecord(static_cast<std::uint16_t>(offset), Bytes(16, 1)) + "\n";
    }
    constexpr std::size_t Offered = std::size_t{1} << 30;
    std::atomic<std::size_t> written{0};
    std::thread writer([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        ::signal(SIGPIPE, SIG_IGN);
        while (fd >= 0 && written.load() < Offered) {
            const std::string& next = written.load() == 0 ? prefix : block;
            const ssize_t n = ::write(fd, next.data(), next.size());
            if (n <= 0) {
                break;  // the reader has gone
            }
            written += static_cast<std::size_t>(n);
        }
        if (fd >= 0) {
            ::close(fd);
        }
    });
    TBuffer image;
    std::int32_t highest = 0;
    const int result = LoadHexFile(fifo, image, highest, MaxFlashSize);
    writer.join();
    EXPECT_EQ(result, HexTooLarge);
    EXPECT_EQ(highest, MaxFlashSize - 1);
    EXPECT_LT(written.load(), prefix.size() + (std::size_t{16} << 20))
        << "the loader read on after refusing";
}

TEST(LoadMessages, TextsForResultCodes) {
    const std::vector<std::pair<int, std::string>> table = {
        {HexLoaded, ""},
        {HexIncomplete, ""},
        {HexNoIntelHex, "Ungültiges Dateiformat (kein Intel-Hex)"},
        {HexUnknownRecord, "Ungültiger Record in Hex-Datei (unbekannte Funktion)"},
        {HexBadChecksum, "Prüfsumme der Hex-Datei ungültig"},
        {HexTooLarge, "Hex-Datei größer als Flash-Speicher (262144 Byte)"},
        {HexDuplicate, "Eintrag in Datei doppelt vorhanden"},
        {-6, ""},
    };
    for (const auto& [code, text] : table) {
        EXPECT_EQ(LoadResultMessage(code), text) << "code " << code;
    }
    EXPECT_EQ(FileLoadedMessage("fw/a b.hex"), "Programmdatei \"fw/a b.hex\" geladen");
    EXPECT_EQ(FileNotFoundMessage("x.hex"), "Datei \"x.hex\" nicht gefunden!");
}

}  // namespace
}  // namespace tarnwick
