#include "program_grid.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QProgressBar>
#include <QScrollBar>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "text/cp1252.h"

namespace tarnwick {
namespace {

struct TBytesAt {
    std::int32_t Address;
    std::vector<std::uint8_t> Bytes;
};

TBuffer MakeImage(const std::vector<TBytesAt>& Writes) {
    TBuffer image(static_cast<std::size_t>(MaxFlashSize), 0xFF);
    for (const TBytesAt& write : Writes) {
        for (std::size_t i = 0; i < write.Bytes.size(); ++i) {
            image[static_cast<std::size_t>(write.Address) + i] = write.Bytes[i];
        }
    }
    return image;
}

QString Cell(const TProgramGrid& Grid, int Row, int Column) {
    return Grid.Model().index(Row, Column).data().toString();
}

TEST(ProgramGrid, HasOneEmptyRowBeforeTheFirstFill) {
    TProgramGrid grid;
    ASSERT_EQ(grid.Model().rowCount(), 1);
    ASSERT_EQ(grid.Model().columnCount(), 5);
    for (int column = 0; column < 5; ++column) {
        EXPECT_TRUE(Cell(grid, 0, column).isEmpty()) << column;
    }
    // No coloured block in an empty view.
    EXPECT_FALSE(grid.selectionModel()->hasSelection());
}

struct TFillCase {
    const char* Name;
    std::vector<TBytesAt> Writes;
    std::int32_t PreviousHighest;  // a fill before the one checked; -1 for none
    std::int32_t Highest;
    bool Complete;
    int Rows;
    const char* LastAddress;
    const char* LastHex1;
    const char* LastDash;
    const char* LastHex2;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const TFillCase& Value, std::ostream* Os) {
    *Os << Value.Name;
}

class ProgramGridFill : public ::testing::TestWithParam<TFillCase> {};

TEST_P(ProgramGridFill, WritesTheRowsOfTheShownRange) {
    const TFillCase& c = GetParam();
    const TBuffer image = MakeImage(c.Writes);
    TProgramGrid grid;
    QProgressBar progress;
    if (c.PreviousHighest >= 0) {
        FillProgramGrid(grid, image, false, c.PreviousHighest, &progress);
    }
    FillProgramGrid(grid, image, c.Complete, c.Highest, &progress);
    ASSERT_EQ(grid.Model().rowCount(), c.Rows);
    const int last = c.Rows - 1;
    EXPECT_EQ(Cell(grid, last, 0), QString::fromLatin1(c.LastAddress));
    EXPECT_EQ(Cell(grid, last, 1), QString::fromLatin1(c.LastHex1));
    EXPECT_EQ(Cell(grid, last, 2), QString::fromLatin1(c.LastDash));
    EXPECT_EQ(Cell(grid, last, 3), QString::fromLatin1(c.LastHex2));
    EXPECT_EQ(Cell(grid, last, 4).size(), QString::fromLatin1(c.LastHex1).size() / 3 +
                                              QString::fromLatin1(c.LastHex2).size() / 3);
    // Every filled row is 18 pixels high, the last one included.
    EXPECT_EQ(grid.rowHeight(0), 18);
    EXPECT_EQ(grid.rowHeight(last), 18);
    EXPECT_EQ(progress.value(), 0);
    EXPECT_FALSE(grid.isHidden());
}

const char* const Ff8 = "FF FF FF FF FF FF FF FF ";

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgramGridFill,
    ::testing::Values(
        TFillCase{"UpToHighestAddress", {}, -1, 0x1F3F, false, 500, "001F30)", Ff8, "-", Ff8},
        TFillCase{"ShortLastRowAfterAFullOne",
                  {{0x1000, {0x0C, 0x94, 0x2A, 0x00}}},
                  0x100F,
                  0x1003,
                  false,
                  257,
                  "001000)",
                  "0C 94 2A 00 ",
                  "",
                  ""},
        TFillCase{"CompleteMemory", {}, -1, 0x0010, true, 16384, "03FFF0)", Ff8, "-", Ff8},
        TFillCase{"CompleteMemoryShowsWrittenEnd",
                  {{0x3FFF8, {1, 2, 3, 4, 5, 6, 7, 8}}},
                  -1,
                  0x3FFFF,
                  true,
                  16384,
                  "03FFF0)",
                  Ff8,
                  "-",
                  "01 02 03 04 05 06 07 08 "},
        TFillCase{"ExactlyEightBytes",
                  {{0, {1, 2, 3, 4, 5, 6, 7, 8}}},
                  -1,
                  7,
                  false,
                  1,
                  "000000)",
                  "01 02 03 04 05 06 07 08 ",
                  "-",
                  ""},
        TFillCase{"ExampleRow",
                  {{0xF0, {0x0C, 0x94, 0x2A, 0x00}}},
                  -1,
                  0xFF,
                  false,
                  16,
                  "0000F0)",
                  "0C 94 2A 00 FF FF FF FF ",
                  "-",
                  Ff8}),
    [](const ::testing::TestParamInfo<TFillCase>& Info) { return std::string(Info.param.Name); });

TEST(ProgramGrid, RefillStartsAtTheTopWithTheFirstRowSelected) {
    const TBuffer image = MakeImage({});
    TProgramGrid grid;
    grid.resize(685, 233);
    grid.show();
    EXPECT_EQ(grid.currentIndex(), grid.Model().index(0, 0));
    FillProgramGrid(grid, image, false, 0x1F3F, nullptr);
    grid.setCurrentIndex(grid.Model().index(400, 3));
    grid.scrollTo(grid.currentIndex());
    ASSERT_GT(grid.verticalScrollBar()->value(), 0);
    FillProgramGrid(grid, image, true, 0x1F3F, nullptr);
    EXPECT_EQ(grid.verticalScrollBar()->value(), 0);
    EXPECT_EQ(grid.currentIndex(), grid.Model().index(0, 3));
    EXPECT_TRUE(grid.selectionModel()->isSelected(grid.Model().index(0, 3)));
}

TEST(ProgramGrid, ByteColumnDecodesWindows1252OneCharacterPerByteUnfiltered) {
    const TBuffer image = MakeImage({{0,
                                      {0x41, 0x00, 0x0A, 0x09, 0x80, 0x81, 0xE4, 0xF6, 0xFC, 0xDF,
                                       0x9F, 0x7F, 0x20, 0xA0, 0x8D, 0xFF}}});
    TProgramGrid grid;
    FillProgramGrid(grid, image, false, 15, nullptr);
    const QString text = Cell(grid, 0, 4);
    const std::vector<char16_t> expected = {0x41, 0x00, 0x0A,  0x09, 0x20AC, 0x81, 0xE4, 0xF6,
                                            0xFC, 0xDF, 0x178, 0x7F, 0x20,   0xA0, 0x8D, 0xFF};
    ASSERT_EQ(text.size(), static_cast<qsizetype>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(text.at(static_cast<qsizetype>(i)).unicode(), expected[i]) << "byte " << i;
    }
}

TEST(ProgramGrid, EveryByteOfTheByteColumnTakesOneCharacterCell) {
    const QFontMetrics metrics(ProgramGridFont());
    const int cell = metrics.horizontalAdvance(QLatin1Char('A'));
    QString row;
    for (int b = 0; b < 256; ++b) {
        const QString one(
            QChar(static_cast<char16_t>(Cp1252ToUnicode(static_cast<std::uint8_t>(b)))));
        EXPECT_EQ(metrics.horizontalAdvance(ProgramCellDrawText(4, one)), cell) << "byte " << b;
        row += one;
    }
    EXPECT_EQ(metrics.horizontalAdvance(ProgramCellDrawText(4, row)),
              metrics.horizontalAdvance(QString(256, QLatin1Char('A'))));
    // The other columns are drawn as they are.
    EXPECT_EQ(ProgramCellDrawText(1, QStringLiteral("0A 09 ")), QStringLiteral("0A 09 "));
}

TEST(ProgramGrid, IsAReadOnlyTableWithFixedColumnsAndNoDecoration) {
    TProgramGrid grid;
    const int widths[5] = {80, 195, 20, 210, 150};
    for (int column = 0; column < 5; ++column) {
        EXPECT_EQ(grid.columnWidth(column), widths[column]) << column;
    }
    EXPECT_TRUE(grid.horizontalHeader()->isHidden());
    EXPECT_TRUE(grid.verticalHeader()->isHidden());
    EXPECT_FALSE(grid.showGrid());
    EXPECT_EQ(grid.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_NE(grid.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(grid.editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(grid.Model().flags(grid.Model().index(0, 0)).testFlag(Qt::ItemIsEditable));
    const QFontInfo font(grid.font());
    EXPECT_EQ(font.pixelSize(), 12);
    EXPECT_TRUE(font.bold());
    EXPECT_TRUE(font.fixedPitch()) << font.family().toStdString();
}

TEST(ProgramGrid, FillRunsHiddenUnderTheWaitCursorAndReportsProgressEveryFiftyRows) {
    const TBuffer image = MakeImage({});
    TProgramGrid grid;
    QProgressBar progress;
    progress.setValue(42);  // left over from an earlier fill
    grid.show();
    std::vector<int> values;
    bool shownDuringFill = false;
    bool waitCursorMissing = false;
    QObject::connect(&progress, &QProgressBar::valueChanged, [&](int Value) {
        values.push_back(Value);
        if (Value != 0) {
            shownDuringFill = shownDuringFill || grid.isVisible();
            const QCursor* cursor = QApplication::overrideCursor();
            waitCursorMissing =
                waitCursorMissing || cursor == nullptr || cursor->shape() != Qt::WaitCursor;
        }
    });
    FillProgramGrid(grid, image, false, 0x1F3F, &progress);
    EXPECT_EQ(progress.maximum(), 0x1F3F);
    // 500 rows: reset, progress after rows 50, 100, ..., 500, then back to 0.
    std::vector<int> expected = {0};
    for (int rows = 50; rows <= 500; rows += 50) {
        expected.push_back(rows * 16 - 1);
    }
    expected.push_back(0);
    EXPECT_EQ(values, expected);
    EXPECT_FALSE(shownDuringFill);
    EXPECT_FALSE(waitCursorMissing);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(grid.isVisible());
}

// The pixels of one cell as the view painted them.
QImage PaintedCell(TProgramGrid& Grid, int Row, int Column) {
    const QRect cell = Grid.visualRect(Grid.Model().index(Row, Column));
    return Grid.viewport()->grab(cell).toImage().convertToFormat(QImage::Format_RGB32);
}

// The same cell drawn by hand: background, then the text in Color at (2, 2).
QImage ExpectedCell(const TProgramGrid& Grid, const QSize& Size, const QString& Text,
                    const QColor& Color, const QBrush& Background) {
    QImage image(Size, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(image.rect(), Background);
    painter.setFont(Grid.font());
    painter.setPen(Color);
    painter.drawText(image.rect().adjusted(2, 2, 0, 0),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, Text);
    painter.end();
    return image;
}

int CountPixels(const QImage& Image, const QColor& Color) {
    int count = 0;
    for (int y = 0; y < Image.height(); ++y) {
        for (int x = 0; x < Image.width(); ++x) {
            count += Image.pixelColor(x, y) == Color ? 1 : 0;
        }
    }
    return count;
}

TEST(ProgramGrid, DrawsEachColumnInItsColourTwoPixelsInFromTheCorner) {
    const TBuffer image = MakeImage({{0,
                                      {0x0C, 0x94, 0x2A, 0x00, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46,
                                       0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C}}});
    TProgramGrid grid;
    grid.resize(685, 233);
    FillProgramGrid(grid, image, false, 15, nullptr);
    grid.show();
    grid.clearSelection();
    grid.setCurrentIndex(QModelIndex());
    const QColor colors[5] = {QColor(128, 0, 0), QColor(0, 0, 128), QColor(0, 0, 128),
                              QColor(0, 0, 128), QColor(128, 0, 128)};
    for (int column = 0; column < 5; ++column) {
        EXPECT_EQ(ProgramColumnColor(column), colors[column]) << column;
        const QImage painted = PaintedCell(grid, 0, column);
        const QImage expected =
            ExpectedCell(grid, painted.size(), ProgramCellDrawText(column, Cell(grid, 0, column)),
                         colors[column], grid.palette().base());
        EXPECT_EQ(painted, expected) << "column " << column;
        // Text actually in the column colour, and none in the other colours.
        EXPECT_GT(CountPixels(painted, colors[column]), 0) << column;
        for (const QColor& other : {QColor(128, 0, 0), QColor(0, 0, 128), QColor(128, 0, 128)}) {
            if (other != colors[column]) {
                EXPECT_EQ(CountPixels(painted, other), 0) << column;
            }
        }
    }
}

TEST(ProgramGrid, SelectedCellKeepsItsColumnColourOnTheHighlight) {
    const TBuffer image = MakeImage({{0, {0x0C, 0x94, 0x2A, 0x00}}});
    TProgramGrid grid;
    grid.resize(685, 233);
    FillProgramGrid(grid, image, false, 15, nullptr);
    grid.show();
    for (int column : {0, 1, 4}) {
        grid.setCurrentIndex(grid.Model().index(0, column));
        ASSERT_TRUE(grid.selectionModel()->isSelected(grid.Model().index(0, column)));
        const QImage painted = PaintedCell(grid, 0, column);
        const QImage expected =
            ExpectedCell(grid, painted.size(), ProgramCellDrawText(column, Cell(grid, 0, column)),
                         ProgramColumnColor(column), grid.palette().brush(QPalette::Highlight));
        EXPECT_EQ(painted, expected) << "column " << column;
        EXPECT_GT(CountPixels(painted, grid.palette().color(QPalette::Highlight)), 0);
        EXPECT_GT(CountPixels(painted, ProgramColumnColor(column)), 0);
    }
}

}  // namespace
}  // namespace tarnwick
