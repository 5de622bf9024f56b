// The program view: the firmware image as a hex dump, sixteen bytes per row, in a
// read-only table with coloured columns.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QStyledItemDelegate>
#include <QTableView>
#include <cstdint>
#include <vector>

#include "firmware_image.h"
#include "program_rows.h"

class QProgressBar;

namespace tarnwick {

inline constexpr int ProgramColumnCount = 5;

// Text colour of a column: address maroon, characters purple, hex bytes navy.
QColor ProgramColumnColor(int Column);

// The bold monospace font of the grid (falls back to any monospace font).
QFont ProgramGridFont();

// Holds the rows of the last fill. Before the first fill it has one empty row, which the
// view shows without a selected cell.
class TProgramGridModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit TProgramGridModel(QObject* Parent = nullptr);

    int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& Index) const override;

    // Replaces all rows; an empty list leaves one empty row, as a grid never has none.
    void SetRows(std::vector<TProgramRow> Rows);
    const std::vector<TProgramRow>& Rows() const { return RowList; }

    // The text shown in a cell (column 4 decoded as Windows-1252, one character per byte).
    QString CellText(int Row, int Column) const;

  private:
    std::vector<TProgramRow> RowList;
};

// The text of a cell as it is drawn. In the byte column every byte takes exactly one
// character cell, so that rows line up: tab, line feed, form feed and carriage return,
// which text drawing would expand or drop, are drawn like the other control bytes, and
// the soft hyphen, which it would hide, as a hyphen.
QString ProgramCellDrawText(int Column, const QString& Text);

// The cell-drawing handler: background in the normal or selected colour, then Text in
// the column colour at 2 pixels right of and below the cell's top-left corner, clipped
// to the cell.
void ProgramGridDrawCell(QPainter& Painter, const QStyleOptionViewItem& Option, int Column,
                         const QString& Text, bool Selected);

// Draws a cell's text in its column colour, 2 pixels in from the cell's top-left
// corner, clipped to the cell; selected cells keep the column colour.
class TProgramGridDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* Painter, const QStyleOptionViewItem& Option,
               const QModelIndex& Index) const override;
};

class TProgramGrid : public QTableView {
    Q_OBJECT
  public:
    explicit TProgramGrid(QWidget* Parent = nullptr);
    ~TProgramGrid() override;
    TProgramGrid(const TProgramGrid&) = delete;
    TProgramGrid& operator=(const TProgramGrid&) = delete;

    TProgramGridModel& Model() { return GridModel; }
    const TProgramGridModel& Model() const { return GridModel; }

    // Sets the fixed column widths of the hex dump.
    void ApplyColumnWidths();

  private:
    TProgramGridModel GridModel;
    TProgramGridDelegate Delegate;
};

// Refills Grid from Image: up to HighestAddress, or the whole image when Complete.
// The grid stays hidden during the fill; Progress (if given) follows the address and
// the GUI processes pending events every ProgramRowsPerProgressStep rows, under the
// wait cursor.
void FillProgramGrid(TProgramGrid& Grid, const TBuffer& Image, bool Complete,
                     std::int32_t HighestAddress, QProgressBar* Progress);

}  // namespace tarnwick
