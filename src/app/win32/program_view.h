// The program view of the Windows window: a hex dump of the image as a control of its
// own. It only draws; the rows come from the image's program rows, and it keeps no more
// than their texts, so the whole image (16,384 rows) scrolls without window per row.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "image/program_rows.h"

namespace tarnwick {

class TProgramView {
  public:
    // Creates the control as a child of Parent at Place (client coordinates).
    TProgramView(HWND Parent, int Id, const RECT& Place, HINSTANCE Instance);
    ~TProgramView();
    TProgramView(const TProgramView&) = delete;
    TProgramView& operator=(const TProgramView&) = delete;

    HWND Handle() const { return Window; }

    // Replaces every row and scrolls to the top; an empty list leaves one empty row, as
    // the view shows before its first fill.
    void SetRows(std::vector<TProgramRow> Rows);
    int RowCount() const { return static_cast<int>(Rows.size()); }

  private:
    static LRESULT CALLBACK Procedure(HWND Window, UINT Message, WPARAM W, LPARAM L);
    LRESULT Handle(UINT Message, WPARAM W, LPARAM L);
    void Paint();
    int VisibleRows() const;
    void UpdateScrollBar();
    void ScrollTo(int FirstRow);
    void Select(int Row, int Column);
    std::wstring CellText(int Row, int Column) const;

    HWND Window = nullptr;
    HFONT Font = nullptr;
    std::vector<TProgramRow> Rows;
    int TopRow = 0;
    int SelectedRow = 0;
    int SelectedColumn = 0;
    int WheelRemainder = 0;
};

}  // namespace tarnwick
