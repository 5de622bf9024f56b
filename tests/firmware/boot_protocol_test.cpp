// The bootloader's protocol core, driven through its platform interface over a flash
// array: what it answers, what it writes, and what it never writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

extern "C" {
#include "boot_crc.h"
#include "boot_platform.h"
#include "boot_protocol.h"
}

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr unsigned PagesPerBuffer = BOOT_BUFFER_SIZE / BOOT_PAGE_SIZE;

constexpr std::size_t FlashBytes = BOOT_APP_SIZE + BOOT_SECTION_SIZE;
// Where the chip halts while a page is written, as on the AVRs: their largest boot section.
constexpr std::size_t HaltingFrom = FlashBytes - (FlashBytes <= 16384   ? 2048
                                                  : FlashBytes <= 32768 ? 4096
                                                                        : 8192);

// The chip around the core: a flash array with a page buffer, as the chip has.
struct TChip {
    Bytes Input;
    std::size_t Next = 0;
    Bytes Sent;
    Bytes Flash = Bytes(FlashBytes, 0xFF);
    Bytes PageBuffer = Bytes(BOOT_PAGE_SIZE, 0xFF);
    std::uint16_t Crc = 0;
    int StreamBegins = 0, Successes = 0, Starts = 0, PagesAtStreamBegin = -1, PagesDone = 0;
    int Erases = 0, Writes = 0;
    std::vector<int> PagesDoneAtAck;  // at each 0xA9
    bool Restarted = false;           // the host fell silent inside an exchange
    bool BootSectionWritten = false, BadWrite = false;
    std::jmp_buf End;
};
TChip* chip = nullptr;

}  // namespace

extern "C" uint8_t plat_receive(uint8_t wait) {
    if (chip->Next < chip->Input.size()) {
        chip->Crc = boot_crc_update(chip->Crc, chip->Input[chip->Next]);
        return chip->Input[chip->Next++];
    }
    // The host has nothing more to say; inside an exchange the chip would start again.
    chip->Restarted = wait == BOOT_WAIT_EXCHANGE;
    std::longjmp(chip->End, 1);
}

extern "C" uint16_t plat_crc_take(void) {
    const std::uint16_t crc = chip->Crc;
    chip->Crc = 0;
    return crc;
}

extern "C" void plat_send(uint8_t byte) {
    chip->Sent.push_back(byte);
    if (byte == 0xA9)
        chip->PagesDoneAtAck.push_back(chip->PagesDone);
}

extern "C" uint8_t plat_flash_read(boot_addr_t addr) {
    return addr < chip->Flash.size() ? chip->Flash[addr] : 0xFF;
}

extern "C" void plat_page_word(uint16_t offset, uint8_t low, uint8_t high) {
    if (offset % 2 || offset >= BOOT_PAGE_SIZE)
        chip->BadWrite = true;
    chip->PageBuffer.at(offset) = low;
    chip->PageBuffer.at(offset + 1) = high;
}

// As the chip: a write only clears bits (ANDs), so that a page written without the erase
// it needed shows.
extern "C" void plat_page_done(boot_addr_t page, uint8_t what) {
    const std::size_t addr = page;
    const bool halts = addr >= HaltingFrom;
    if (!halts && (what & BOOT_PAGE_ACK))
        plat_send(0xA9);
    if (addr % BOOT_PAGE_SIZE)
        chip->BadWrite = true;
    if ((what & (BOOT_PAGE_ERASE | BOOT_PAGE_WRITE)) && addr + BOOT_PAGE_SIZE > BOOT_APP_SIZE) {
        chip->BootSectionWritten = true;
    } else if (addr + BOOT_PAGE_SIZE <= chip->Flash.size()) {
        const auto at = chip->Flash.begin() + static_cast<std::ptrdiff_t>(addr);
        if (what & BOOT_PAGE_ERASE) {
            std::fill(at, at + BOOT_PAGE_SIZE, 0xFF);
            ++chip->Erases;
        }
        if (what & BOOT_PAGE_WRITE) {
            for (std::size_t i = 0; i < BOOT_PAGE_SIZE; ++i)
                at[static_cast<std::ptrdiff_t>(i)] &= chip->PageBuffer[i];
            ++chip->Writes;
        }
    }
    std::fill(chip->PageBuffer.begin(), chip->PageBuffer.end(), 0xFF);
    ++chip->PagesDone;
    if (halts && (what & BOOT_PAGE_ACK))
        plat_send(0xA9);
}

extern "C" void plat_stream_begins(void) {
    ++chip->StreamBegins;
    chip->PagesAtStreamBegin = chip->PagesDone;
    std::fill(chip->PageBuffer.begin(), chip->PageBuffer.end(), 0xFF);
}

extern "C" void plat_start_application(void) {
    ++chip->Starts;
}

extern "C" void plat_success(void) {
    ++chip->Successes;
}

namespace {

const Bytes Password = {'K', 'i', 'w', 'u'};

// Runs the core from reset over the whole input.
void RunChip(TChip& c, bool clean = true) {
    chip = &c;
    if (setjmp(c.End) == 0)
        boot_run(Password.data(), static_cast<std::uint8_t>(Password.size()), clean ? 1 : 0);
    chip = nullptr;
}

// What the host sends, built the way it builds it.
struct THost {
    Bytes Wire;
    std::uint16_t Crc = 0;
    void Byte(std::uint8_t b) {
        Wire.push_back(b);
        Crc = boot_crc_update(Crc, b);
    }
    void Bytes_(const Bytes& bytes) {
        for (const std::uint8_t b : bytes)
            Byte(b);
    }
    void Connect() { Bytes_({'u', 0xFF, 'K', 'i', 'w', 'u', 0xFF, 0xA5}); }
    void Command(std::uint8_t code) { Bytes_({0xA5, code}); }
    void CrcCheck(bool wrong = false) {
        Command(0x06);
        const std::uint16_t crc = static_cast<std::uint16_t>(Crc ^ (wrong ? 1 : 0));
        Bytes_({static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8)});
        Crc = 0;  // as the host's register after sending its own value
    }
    void Stream(const Bytes& image) {
        for (const std::uint8_t b : image) {
            if (b == 0x13 || b == 0xA5)
                Bytes_({0xA5, static_cast<std::uint8_t>(b + 0x80)});
            else
                Byte(b);
        }
        Bytes_({0xA5, 0x80});
    }
};

// Built byte by byte: GCC 12 warns falsely (-Warray-bounds) on inserting a list.
void Append(Bytes& to, std::initializer_list<std::uint8_t> bytes) {
    for (const std::uint8_t b : bytes)
        to.push_back(b);
}
void Append(Bytes& to, const Bytes& bytes) {
    for (const std::uint8_t b : bytes)
        to.push_back(b);
}

Bytes Image(std::size_t size) {
    Bytes image(size);
    std::uint32_t x = 12345;
    for (auto& b : image) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    // The escaped values at page and buffer edges.
    for (std::size_t at : {std::size_t{0}, std::size_t{BOOT_PAGE_SIZE - 1},
                           std::size_t{BOOT_BUFFER_SIZE - 1}, size - 1})
        if (at < size)
            image[at] = (at % 2) ? 0xA5 : 0x13;
    return image;
}

TEST(BootProtocol, ConnectsAndAnswersTheQueries) {
    THost host;
    host.Connect();
    for (std::uint8_t code : {0x00, 0x02, 0x01, 0x03, 0x42, 0x08, 0xFF})
        host.Command(code);
    TChip c;
    c.Input = host.Wire;
    RunChip(c);
    const std::uint32_t app = BOOT_APP_SIZE;
    const Bytes expected = {
        0xA6,
        0xAA,  // password, confirmation
        0xA8,
        0x54,  // the mark: Tarnwick's bootloader, streams at line speed
        2,
        1,
        0xAA,  // version 2.1
        0xA8,
        0x54,
        BOOT_SIGNATURE_0,
        BOOT_SIGNATURE_1,
        BOOT_SIGNATURE_2,
        0xAA,
        0xA8,
        0x54,
        BOOT_BUFFER_SIZE >> 8,
        BOOT_BUFFER_SIZE & 0xFF,
        0xAA,
        0xA8,
        0x54,
        static_cast<std::uint8_t>(app >> 24),
        static_cast<std::uint8_t>(app >> 16),
        static_cast<std::uint8_t>(app >> 8),
        static_cast<std::uint8_t>(app),
        0xAA,
        0xA7,
        0xA7,
        0xA7,  // unknown commands
    };
    EXPECT_EQ(c.Sent, expected);
}

// A host that sees 0xA6 late (a loaded PC, a slow adapter) sends more of its rounds before
// its lone 0xA5: the password stays accepted.
TEST(BootProtocol, ConfirmsAfterRoundBytesThatFollowTheAcceptance) {
    TChip c;
    c.Input = {'K', 'i', 'w', 'u', 0xFF, 'K', 'i', 'w', 0xA5, 0xA5, 0x00};
    RunChip(c);
    EXPECT_EQ(c.Sent,
              (Bytes{0xA6, 0xAA, 0xA8, 0x54, BOOT_VERSION_MAJOR, BOOT_VERSION_MINOR, 0xAA}));
}

TEST(BootProtocol, IgnoresCommandsBeforeThePasswordAndWrongPasswords) {
    TChip c;
    c.Input = {0xA5, 0x00, 0xA5, 0x04, 'K', 'i', 'w', 'i', 0xFF, 0xA5, 0x02, 'K', 'i', 'w'};
    RunChip(c);
    EXPECT_TRUE(c.Sent.empty());
    EXPECT_EQ(c.StreamBegins, 0);
}

TEST(BootProtocol, JudgesEveryCrcCheckButTheFirst) {
    struct {
        const char* Name;
        std::vector<bool> Wrong;  // one check each
        Bytes Verdicts;
    } const cases[] = {
        {"first wrong is not judged", {true, false, false}, {0xAA, 0xAA, 0xAA}},
        {"later wrong ones are", {false, true, false, true}, {0xAA, 0xAB, 0xAA, 0xAB}},
    };
    for (const auto& tc : cases) {
        THost host;
        host.Connect();
        for (const bool wrong : tc.Wrong)
            host.CrcCheck(wrong);
        TChip c;
        c.Input = host.Wire;
        RunChip(c);
        Bytes verdicts;
        // Each check: 0xAA at once to the command, then the verdict.
        for (std::size_t i = 2; i + 1 < c.Sent.size(); i += 2) {
            EXPECT_EQ(c.Sent[i], 0xAA) << tc.Name;
            verdicts.push_back(c.Sent[i + 1]);
        }
        EXPECT_EQ(verdicts, tc.Verdicts) << tc.Name;
    }
}

// A whole update as the host runs it, for several image sizes and flash speeds.
TEST(BootProtocol, ProgramsVerifiesAndStartsTheApplication) {
    struct {
        std::size_t Size;
    } const cases[] = {
        {1},
        {2},
        {BOOT_PAGE_SIZE},
        {BOOT_BUFFER_SIZE},
        {3 * BOOT_BUFFER_SIZE + BOOT_PAGE_SIZE / 2},
        {3 * BOOT_BUFFER_SIZE + 7},
        {BOOT_APP_SIZE},
    };
    for (const auto& tc : cases) {
        const Bytes image = Image(tc.Size);
        THost host;
        host.Connect();
        host.CrcCheck();
        host.CrcCheck();
        host.Command(0x04);
        host.Stream(image);
        host.Command(0x07);
        host.Stream(image);
        host.CrcCheck();
        host.Bytes_({0xA5, 0x80, 0xA5, 0xA5, 0xA5, 0x05});
        TChip c;
        c.Input = host.Wire;
        RunChip(c);
        const std::size_t acks = tc.Size / BOOT_BUFFER_SIZE;
        Bytes expected = {0xA6, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
        for (std::size_t i = 0; i < acks; ++i)
            expected.push_back(0xA9);
        Append(expected, {0xAA, 0xAA, 0xAA, 0xAA, 0xAA});
        EXPECT_EQ(c.Sent, expected) << tc.Size;
        EXPECT_TRUE(std::equal(image.begin(), image.end(), c.Flash.begin())) << tc.Size;
        // The rest of the last page is erased flash.
        const std::size_t pageEnd =
            (tc.Size + BOOT_PAGE_SIZE - 1) / BOOT_PAGE_SIZE * BOOT_PAGE_SIZE;
        EXPECT_TRUE(std::all_of(c.Flash.begin() + static_cast<std::ptrdiff_t>(tc.Size),
                                c.Flash.begin() + static_cast<std::ptrdiff_t>(pageEnd),
                                [](std::uint8_t b) { return b == 0xFF; }));
        EXPECT_EQ(c.StreamBegins, 1);
        EXPECT_EQ(c.PagesAtStreamBegin, 0);
        EXPECT_EQ(c.Successes, 1) << tc.Size;
        EXPECT_EQ(static_cast<std::size_t>(c.Writes), pageEnd / BOOT_PAGE_SIZE);
        EXPECT_FALSE(c.BadWrite) << tc.Size;
        EXPECT_FALSE(c.BootSectionWritten);
        // A page where the chip halts is written before its 0xA9, while the host waits;
        // the others after it, while the host sends on.
        ASSERT_EQ(c.PagesDoneAtAck.size(), acks) << tc.Size;
        for (std::size_t i = 0; i < acks; ++i)
            EXPECT_EQ(c.PagesDoneAtAck[i],
                      static_cast<int>(i) + (i * BOOT_PAGE_SIZE >= HaltingFrom))
                << tc.Size << " page " << i;
    }
}

// A page equal to the flash is neither erased nor written; one that differs is erased,
// and written unless it is all ones. The flash ends equal to the image each time.
TEST(BootProtocol, LeavesUnchangedPagesAlone) {
    const Bytes before = Image(4 * BOOT_PAGE_SIZE);
    Bytes onePage = before;
    onePage[2 * BOOT_PAGE_SIZE + 5] ^= 0x01;
    Bytes blankPage = before;
    std::fill(blankPage.begin() + BOOT_PAGE_SIZE, blankPage.begin() + 2 * BOOT_PAGE_SIZE, 0xFF);
    struct {
        const char* Name;
        Bytes Flash, Image;
        int Erases, Writes;
    } const cases[] = {
        {"the same image again", before, before, 0, 0},
        {"one page differs", before, onePage, 1, 1},
        {"a page now blank", before, blankPage, 1, 0},
        {"into a blank chip", {}, before, 4, 4},
    };
    for (const auto& tc : cases) {
        THost host;
        host.Connect();
        host.Command(0x04);
        host.Stream(tc.Image);
        TChip c;
        std::copy(tc.Flash.begin(), tc.Flash.end(), c.Flash.begin());
        c.Input = host.Wire;
        RunChip(c);
        EXPECT_EQ(c.Sent, (Bytes{0xA6, 0xAA, 0xA9, 0xA9, 0xA9, 0xA9, 0xAA})) << tc.Name;
        EXPECT_EQ(c.Erases, tc.Erases) << tc.Name;
        EXPECT_EQ(c.Writes, tc.Writes) << tc.Name;
        EXPECT_TRUE(std::equal(tc.Image.begin(), tc.Image.end(), c.Flash.begin())) << tc.Name;
    }
}

// Whatever a host sends, the own section stays untouched, a failed stream is answered
// 0xAB and the application is not started.
TEST(BootProtocol, RefusesBadStreamsWithoutTouchingTheBootSection) {
    const Bytes small = Image(2 * BOOT_BUFFER_SIZE);
    struct {
        const char* Name;
        Bytes Stream;  // after 0xA5 0x04
        std::size_t PagesKept;
    } cases[] = {
        {"beyond the section", {}, BOOT_APP_SIZE / BOOT_PAGE_SIZE},
        {"broken escape", {}, 1},
        {"cut off", {}, 1},
        {"escape at the cut", {}, 1},
    };
    {
        THost h;
        h.Stream(Image(BOOT_APP_SIZE + BOOT_SECTION_SIZE));
        cases[0].Stream = h.Wire;
    }
    {
        Bytes s(small.begin(), small.begin() + BOOT_PAGE_SIZE + 3);
        std::replace(s.begin(), s.end(), std::uint8_t{0x13}, std::uint8_t{0});
        std::replace(s.begin(), s.end(), std::uint8_t{0xA5}, std::uint8_t{0});
        Append(s, {0xA5, 0x05});  // not an escape the host sends
        Append(s, small);
        Append(s, {0xA5, 0x80});
        std::replace(s.begin() + BOOT_PAGE_SIZE + 5, s.end() - 2, std::uint8_t{0xA5},
                     std::uint8_t{0});
        cases[1].Stream = s;
        Bytes cut(s.begin(), s.begin() + BOOT_PAGE_SIZE + 3);
        cases[2].Stream = cut;
        cut.push_back(0xA5);
        cases[3].Stream = cut;
    }
    for (const auto& tc : cases) {
        THost host;
        host.Connect();
        host.Command(0x04);
        host.Bytes_(tc.Stream);
        host.Bytes_({0xA5, 0x05});
        TChip c;
        c.Input = host.Wire;
        RunChip(c);
        ASSERT_FALSE(c.Sent.empty()) << tc.Name;
        // A stream cut off ends with the restart; the others with 0xAB.
        EXPECT_EQ(c.Restarted, c.Sent.back() != 0xAB) << tc.Name;
        EXPECT_EQ(c.Restarted, tc.Stream.back() != 0x80) << tc.Name;
        EXPECT_EQ(c.Successes, 0) << tc.Name;
        EXPECT_FALSE(c.BootSectionWritten) << tc.Name;
        EXPECT_FALSE(c.BadWrite) << tc.Name;
        EXPECT_TRUE(std::all_of(c.Flash.begin() + BOOT_APP_SIZE, c.Flash.end(), [](std::uint8_t b) {
            return b == 0xFF;
        })) << tc.Name;
        EXPECT_EQ(static_cast<std::size_t>(c.Writes), tc.PagesKept) << tc.Name;
    }
}

TEST(BootProtocol, StartsTheApplicationOnlyWhenItIsWhole) {
    const Bytes image = Image(BOOT_PAGE_SIZE * 3);
    struct {
        const char* Name;
        bool CleanAtReset;
        bool Program, BreakProgram, Verify, VerifyWrong;
        int Successes;
    } const cases[] = {
        {"programmed", false, true, false, false, false, 1},
        {"only verified, whole at reset", true, false, false, true, false, 1},
        {"only verified, half-written at reset", false, false, false, true, false, 0},
        {"programming broken", true, true, true, false, false, 0},
        {"verification failed", true, true, false, true, true, 0},
        {"no stream, whole at reset", true, false, false, false, false, 1},
    };
    for (const auto& tc : cases) {
        THost host;
        host.Connect();
        if (tc.Program) {
            host.Command(0x04);
            if (tc.BreakProgram)
                host.Bytes_({1, 2, 0xA5, 0x00, 3, 0xA5, 0x80});
            else
                host.Stream(image);
        }
        if (tc.Verify) {
            host.Command(0x07);
            Bytes other = image;
            if (tc.VerifyWrong)
                other[5] ^= 0x40;
            host.Stream(other);
        }
        host.Command(0x05);
        TChip c;
        std::copy(image.begin(), image.end(), c.Flash.begin());  // the program, flashed before
        c.Input = host.Wire;
        RunChip(c, tc.CleanAtReset);
        EXPECT_EQ(c.Successes, tc.Successes) << tc.Name;
    }
}

// After a cut-off stream the chip starts again, stays in the bootloader (the mark says the
// application is not whole) and hears the next host.
TEST(BootProtocol, ReconnectsAfterACutOffStream) {
    THost host;
    host.Connect();
    host.Command(0x04);
    host.Bytes_({1, 2, 3});
    TChip c;
    c.Input = host.Wire;
    RunChip(c);
    EXPECT_TRUE(c.Restarted);
    EXPECT_EQ(c.Sent, (Bytes{0xA6, 0xAA}));
    THost again;
    again.Connect();
    again.Command(0x05);
    TChip d;
    d.Input = again.Wire;
    RunChip(d, false);
    EXPECT_EQ(d.Sent, (Bytes{0xA6, 0xAA}));
    EXPECT_EQ(d.Successes, 0);  // no whole program: the success command does not start it
}

}  // namespace
