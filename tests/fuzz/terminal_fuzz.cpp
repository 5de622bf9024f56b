// The terminal without a display: any bytes, in any chunks, with either emulation or
// none, any grid size and the grid changed half-way, never move the caret out of the
// grid (every cell access goes through it) and never crash the parsers.
#include <algorithm>
#include <string_view>

#include "fuzz_input.h"
#include "terminal/com_terminal_core.h"

using namespace tarnwick;

namespace {

void CheckCaret(const TComTerminalCore& Terminal) {
    FUZZ_CHECK(Terminal.CaretCol() >= 1 && Terminal.CaretCol() <= Terminal.Columns());
    FUZZ_CHECK(Terminal.CaretRow() >= 1 && Terminal.CaretRow() <= Terminal.Rows());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    fuzz::TFuzzInput input(Data, Size);
    TComTerminalCore terminal;  // no port: answers to queries go nowhere
    const std::uint8_t choices = input.Byte();
    terminal.SetEmulation(static_cast<TTermEmulation>(choices % 3));
    terminal.SetWrapLines((choices & 0x04) != 0);
    terminal.SetAppendLF((choices & 0x08) != 0);
    terminal.SetForce7Bit((choices & 0x10) != 0);
    terminal.SetColumns(input.Byte() + 1);  // limited to the grid's range
    terminal.SetRows(input.Byte() % 110);
    const int newColumns = input.Byte();
    const int newRows = input.Byte();
    const std::string_view chunking = input.Piece();
    const std::string_view bytes = input.All();
    CheckCaret(terminal);

    std::size_t at = 0;
    for (std::size_t i = 0; at < bytes.size(); ++i) {
        const std::size_t size =
            chunking.empty() ? bytes.size()
                             : std::max<std::size_t>(
                                   1, static_cast<std::uint8_t>(chunking[i % chunking.size()]));
        const std::size_t take = std::min(size, bytes.size() - at);
        terminal.ReceiveBytes(reinterpret_cast<const std::uint8_t*>(bytes.data() + at),
                              static_cast<int>(take));
        at += take;
        CheckCaret(terminal);
        if (i == 1) {
            // A grid that shrinks (or grows) under a caret and a saved position.
            terminal.SetColumns(newColumns);
            terminal.SetRows(newRows);
            CheckCaret(terminal);
        }
    }
    return 0;
}
