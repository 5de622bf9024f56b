#include "program_grid.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QProgressBar>
#include <algorithm>
#include <utility>

#include "text/cp1252.h"

namespace tarnwick {

namespace {

// Shows the wait cursor for its lifetime; the previous cursor comes back afterwards.
class TWaitCursor {
  public:
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

// Makes the grid visible again however the fill ends, so a failed fill cannot leave
// the view hidden for good.
class TShowOnExit {
  public:
    explicit TShowOnExit(QWidget& Widget) : Target(Widget) {}
    ~TShowOnExit() { Target.show(); }
    TShowOnExit(const TShowOnExit&) = delete;
    TShowOnExit& operator=(const TShowOnExit&) = delete;

  private:
    QWidget& Target;
};

QString Latin1Text(const std::string& Text) {
    return QString::fromLatin1(Text.data(), static_cast<qsizetype>(Text.size()));
}

}  // namespace

QColor ProgramColumnColor(int Column) {
    switch (Column) {
        case 0:
            return QColor(128, 0, 0);  // maroon
        case 4:
            return QColor(128, 0, 128);  // purple
        default:
            return QColor(0, 0, 128);  // navy
    }
}

QFont ProgramGridFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Lucida Console"), QStringLiteral("DejaVu Sans Mono")});
    font.setStyleHint(QFont::Monospace);
    font.setBold(true);
    font.setPixelSize(12);
    return font;
}

TProgramGridModel::TProgramGridModel(QObject* Parent) : QAbstractTableModel(Parent) {
    RowList.resize(1);
}

int TProgramGridModel::rowCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : static_cast<int>(RowList.size());
}

int TProgramGridModel::columnCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : ProgramColumnCount;
}

QString TProgramGridModel::CellText(int Row, int Column) const {
    if (Row < 0 || static_cast<std::size_t>(Row) >= RowList.size()) {
        return {};
    }
    const TProgramRow& row = RowList[static_cast<std::size_t>(Row)];
    switch (Column) {
        case 0:
            return Latin1Text(row.Address);
        case 1:
            return Latin1Text(row.Hex1);
        case 2:
            return Latin1Text(row.Dash);
        case 3:
            return Latin1Text(row.Hex2);
        case 4: {
            QString text;
            text.reserve(static_cast<qsizetype>(row.Bytes.size()));
            for (const char byte : row.Bytes) {
                text.append(
                    QChar(static_cast<char16_t>(Cp1252ToUnicode(static_cast<std::uint8_t>(byte)))));
            }
            return text;
        }
        default:
            return {};
    }
}

QVariant TProgramGridModel::data(const QModelIndex& Index, int Role) const {
    if (!Index.isValid()) {
        return {};
    }
    switch (Role) {
        case Qt::DisplayRole:
            return CellText(Index.row(), Index.column());
        case Qt::ForegroundRole:
            return ProgramColumnColor(Index.column());
        default:
            return {};
    }
}

Qt::ItemFlags TProgramGridModel::flags(const QModelIndex& Index) const {
    if (!Index.isValid()) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void TProgramGridModel::SetRows(std::vector<TProgramRow> Rows) {
    beginResetModel();
    RowList = std::move(Rows);
    if (RowList.empty()) {
        RowList.resize(1);
    }
    endResetModel();
}

QString ProgramCellDrawText(int Column, const QString& Text) {
    if (Column != 4) {
        return Text;
    }
    QString drawn = Text;
    for (QChar& c : drawn) {
        switch (c.unicode()) {
            case u'\t':
            case u'\n':
            case u'\f':
            case u'\r':
                // Any other C0 control: drawn as the font's box for a missing glyph.
                c = QChar(u'\x1A');
                break;
            case u'\u00AD':
                c = QLatin1Char('-');
                break;
            default:
                break;
        }
    }
    return drawn;
}

void ProgramGridDrawCell(QPainter& Painter, const QStyleOptionViewItem& Option, int Column,
                         const QString& Text, bool Selected) {
    Painter.save();
    Painter.setClipRect(Option.rect, Qt::IntersectClip);
    Painter.fillRect(Option.rect,
                     Option.palette.brush(Selected ? QPalette::Highlight : QPalette::Base));
    Painter.setFont(Option.font);
    Painter.setPen(ProgramColumnColor(Column));
    // Single line: control characters of the byte column must not break the row.
    Painter.drawText(Option.rect.adjusted(2, 2, 0, 0),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, Text);
    Painter.restore();
}

void TProgramGridDelegate::paint(QPainter* Painter, const QStyleOptionViewItem& Option,
                                 const QModelIndex& Index) const {
    ProgramGridDrawCell(*Painter, Option, Index.column(),
                        ProgramCellDrawText(Index.column(), Index.data().toString()),
                        Option.state.testFlag(QStyle::State_Selected));
}

TProgramGrid::TProgramGrid(QWidget* Parent) : QTableView(Parent) {
    setModel(&GridModel);
    setItemDelegate(&Delegate);
    setFont(ProgramGridFont());
    horizontalHeader()->hide();
    verticalHeader()->hide();
    horizontalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(ProgramRowHeight);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    ApplyColumnWidths();
    // The first cell is current, but nothing is selected until there is something to see.
    selectionModel()->setCurrentIndex(GridModel.index(0, 0), QItemSelectionModel::NoUpdate);
}

TProgramGrid::~TProgramGrid() {
    // The model and delegate are members and die before the view's base part.
    setItemDelegate(nullptr);
    setModel(nullptr);
}

void TProgramGrid::ApplyColumnWidths() {
    for (int column = 0; column < ProgramColumnCount; ++column) {
        setColumnWidth(column, ProgramColumnWidths[column]);
    }
}

void FillProgramGrid(TProgramGrid& Grid, const TBuffer& Image, bool Complete,
                     std::int32_t HighestAddress, QProgressBar* Progress) {
    const std::int32_t lastAddress = LastShownAddress(Image, Complete, HighestAddress);
    Grid.hide();
    TShowOnExit showGrid(Grid);
    Grid.ApplyColumnWidths();
    if (Progress != nullptr) {
        Progress->setValue(0);
        // A maximum equal to the minimum would turn the bar into a busy indicator.
        Progress->setMaximum(std::max(lastAddress, 1));
    }
    std::vector<TProgramRow> rows;
    {
        TWaitCursor waitCursor;
        rows = BuildProgramRows(Image, Complete, HighestAddress, [Progress](std::int32_t Address) {
            if (Progress != nullptr) {
                Progress->setValue(Address);
            }
            QCoreApplication::processEvents();
        });
    }
    // Like a grid cut down to one row and grown again: back at the top, the selected
    // cell in the first row of its column.
    const int column = std::max(Grid.currentIndex().column(), 0);
    Grid.Model().SetRows(std::move(rows));
    Grid.setCurrentIndex(Grid.Model().index(0, column));
    Grid.scrollToTop();
    Grid.show();
    if (Progress != nullptr) {
        Progress->setValue(0);
    }
}

}  // namespace tarnwick
