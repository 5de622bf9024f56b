// libvterm as an independent judge of what a byte stream puts on the screen.
#pragma once

#include <string>
#include <vector>

struct VTerm;

namespace tarnwick::test {

class TVtermJudge {
  public:
    TVtermJudge(int Columns, int Rows, bool AutoWrap);
    ~TVtermJudge();
    TVtermJudge(const TVtermJudge&) = delete;
    TVtermJudge& operator=(const TVtermJudge&) = delete;

    void Write(const std::string& Bytes);
    // One string per row, Columns characters each, an empty cell as a blank.
    std::vector<std::string> Screen() const;
    // 1-based.
    int CaretColumn() const;
    int CaretRow() const;

  private:
    VTerm* Term;
    int FColumns;
    int FRows;
};

}  // namespace tarnwick::test
