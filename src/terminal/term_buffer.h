// The terminal's screen: Columns x Rows cells with colours and an underline flag,
// and a row of tab stops. Positions are 1-based (x = column, y = row) and must lie
// inside the grid; the terminal keeps its caret there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

// 0xRRGGBB.
using TColor = std::uint32_t;

struct TTermCell {
    std::uint8_t Glyph = 0;  // 0 = empty
    TColor TextColor = 0;
    TColor FillColor = 0;
    bool Underlined = false;
    friend bool operator==(const TTermCell&, const TTermCell&) = default;
};

// What the terminal draws through; a headless terminal has none. Cell
// coordinates are the buffer's, 1-based and inclusive.
class TTermView {
  public:
    virtual ~TTermView() = default;
    virtual void InvalidateCells(int Left, int Top, int Right, int Bottom) = 0;
    // The whole screen moved up (Rows > 0) or down (Rows < 0) by that many rows.
    virtual void ScrollRows(int Rows) = 0;
    virtual void CaretMoved(int Column, int Row) = 0;
    virtual void HideCaret() = 0;
    virtual void ShowCaret() = 0;
    virtual void RepaintAll() = 0;
    // Columns or Rows changed: size, scroll bars.
    virtual void GridResized() = 0;
};

class TComTermBuffer {
  public:
    TComTermBuffer() = default;
    void SetView(TTermView* Value) { View = Value; }

    int Columns() const { return FColumns; }
    int Rows() const { return FRows; }

    // Cleared cells and tab stops at 1, 9, 17, ... for the given size.
    void ResetGrid(int Columns, int Rows);
    void PutCell(int X, int Y, const TTermCell& Cell);
    void FetchCell(int X, int Y, TTermCell& Cell) const;
    const TTermCell& Cell(int X, int Y) const { return Cells[Index(X, Y)]; }
    // The glyphs of row Y as bytes, an empty cell as a blank.
    std::string RowText(int Y) const;
    void ShiftRowsUp();
    void ShiftRowsDown();
    void ClearToLineEnd(int X, int Y);
    void ClearToScreenEnd(int X, int Y);
    void SetTabStop(int X, bool On);
    bool IsTabStop(int X) const;
    // The first tab stop from X on, 0 when there is none up to Columns.
    int FindNextTabStop(int X) const;
    void ClearTabStops();

  private:
    std::size_t Index(int X, int Y) const {
        return static_cast<std::size_t>(Y - 1) * static_cast<std::size_t>(FColumns) +
               static_cast<std::size_t>(X - 1);
    }
    void Invalidate(int Left, int Top, int Right, int Bottom) {
        if (View != nullptr)
            View->InvalidateCells(Left, Top, Right, Bottom);
    }

    int FColumns = 0;
    int FRows = 0;
    std::vector<TTermCell> Cells;
    std::vector<std::uint8_t> Tabs;
    TTermView* View = nullptr;
};

}  // namespace tarnwick
