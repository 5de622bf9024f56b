#include "vterm_judge.h"

#include <vterm.h>

namespace tarnwick::test {

TVtermJudge::TVtermJudge(int Columns, int Rows, bool AutoWrap)
    : Term(vterm_new(Rows, Columns)), FColumns(Columns), FRows(Rows) {
    // Bytes, not UTF-8: the terminal under test shows one character per byte.
    vterm_set_utf8(Term, 0);
    vterm_screen_reset(vterm_obtain_screen(Term), 1);
    if (!AutoWrap)
        Write("\x1b[?7l");
}

TVtermJudge::~TVtermJudge() {
    vterm_free(Term);
}

void TVtermJudge::Write(const std::string& Bytes) {
    vterm_input_write(Term, Bytes.data(), Bytes.size());
}

std::vector<std::string> TVtermJudge::Screen() const {
    VTermScreen* screen = vterm_obtain_screen(Term);
    std::vector<std::string> rows;
    for (int row = 0; row < FRows; ++row) {
        std::string text;
        for (int col = 0; col < FColumns; ++col) {
            VTermScreenCell cell{};
            vterm_screen_get_cell(screen, VTermPos{row, col}, &cell);
            const uint32_t ch = cell.chars[0];
            text += (ch == 0) ? ' ' : static_cast<char>(ch);
        }
        rows.push_back(text);
    }
    return rows;
}

int TVtermJudge::CaretColumn() const {
    VTermPos pos{};
    vterm_state_get_cursorpos(vterm_obtain_state(Term), &pos);
    return pos.col + 1;
}

int TVtermJudge::CaretRow() const {
    VTermPos pos{};
    vterm_state_get_cursorpos(vterm_obtain_state(Term), &pos);
    return pos.row + 1;
}

}  // namespace tarnwick::test
