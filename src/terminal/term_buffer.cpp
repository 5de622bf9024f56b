#include "terminal/term_buffer.h"

#include <algorithm>

namespace tarnwick {

void TComTermBuffer::ResetGrid(int Columns, int Rows) {
    FColumns = Columns;
    FRows = Rows;
    Cells.assign(static_cast<std::size_t>(Columns) * static_cast<std::size_t>(Rows), TTermCell{});
    Tabs.assign(static_cast<std::size_t>(Columns), 0);
    for (int x = 1; x <= Columns; x += 8)
        Tabs[static_cast<std::size_t>(x - 1)] = 1;
}

void TComTermBuffer::PutCell(int X, int Y, const TTermCell& Cell) {
    Cells[Index(X, Y)] = Cell;
}

void TComTermBuffer::FetchCell(int X, int Y, TTermCell& Cell) const {
    Cell = Cells[Index(X, Y)];
}

std::string TComTermBuffer::RowText(int Y) const {
    std::string text(static_cast<std::size_t>(FColumns), ' ');
    for (int x = 1; x <= FColumns; ++x) {
        if (const std::uint8_t glyph = Cells[Index(x, Y)].Glyph; glyph != 0)
            text[static_cast<std::size_t>(x - 1)] = static_cast<char>(glyph);
    }
    return text;
}

void TComTermBuffer::ShiftRowsUp() {
    const auto row = static_cast<std::ptrdiff_t>(FColumns);
    std::move(Cells.begin() + row, Cells.end(), Cells.begin());
    std::fill(Cells.end() - row, Cells.end(), TTermCell{});
    if (View != nullptr)
        View->ScrollRows(1);
}

void TComTermBuffer::ShiftRowsDown() {
    const auto row = static_cast<std::ptrdiff_t>(FColumns);
    std::move_backward(Cells.begin(), Cells.end() - row, Cells.end());
    std::fill(Cells.begin(), Cells.begin() + row, TTermCell{});
    if (View != nullptr)
        View->ScrollRows(-1);
}

void TComTermBuffer::ClearToLineEnd(int X, int Y) {
    std::fill(Cells.begin() + static_cast<std::ptrdiff_t>(Index(X, Y)),
              Cells.begin() + static_cast<std::ptrdiff_t>(Index(1, Y) + FColumns), TTermCell{});
    Invalidate(X, Y, FColumns, Y);
}

void TComTermBuffer::ClearToScreenEnd(int X, int Y) {
    std::fill(Cells.begin() + static_cast<std::ptrdiff_t>(Index(X, Y)), Cells.end(), TTermCell{});
    // The rows below Y are cleared whole, also left of X: they are redrawn whole.
    Invalidate(X, Y, FColumns, FRows);
    if (Y < FRows)
        Invalidate(1, Y + 1, FColumns, FRows);
}

void TComTermBuffer::SetTabStop(int X, bool On) {
    Tabs[static_cast<std::size_t>(X - 1)] = On ? 1 : 0;
}

bool TComTermBuffer::IsTabStop(int X) const {
    return Tabs[static_cast<std::size_t>(X - 1)] != 0;
}

int TComTermBuffer::FindNextTabStop(int X) const {
    for (int x = std::max(X, 1); x <= FColumns; ++x) {
        if (Tabs[static_cast<std::size_t>(x - 1)] != 0)
            return x;
    }
    return 0;
}

void TComTermBuffer::ClearTabStops() {
    std::fill(Tabs.begin(), Tabs.end(), 0);
}

}  // namespace tarnwick
