#include "com_terminal.h"

#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>
#include <exception>

#include "text/cp1252.h"

namespace tarnwick {

namespace {

QColor ToQColor(TColor Color) {
    return QColor::fromRgb(static_cast<QRgb>(Color));
}

TColor FromQColor(const QColor& Color) {
    return static_cast<TColor>(Color.rgb() & 0xFFFFFF);
}

}  // namespace

QFont TCustomComTerminal::DefaultFont() {
    static const QString family = [] {
        const int id = QFontDatabase::addApplicationFont("/usr/share/wine/fonts/fixedsys.ttf");
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        return families.isEmpty() ? QStringLiteral("DejaVu Sans Mono") : families.front();
    }();
    QFont font(family, 9);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    return font;
}

TCustomComTerminal::TCustomComTerminal(QWidget* Parent) : QAbstractScrollArea(Parent) {
    // Every pixel of the viewport is painted here.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, Qt::black);
    colours.setColor(QPalette::Text, Qt::white);
    setPalette(colours);
    SetColor(FromQColor(colours.color(QPalette::Base)));
    SetFontColor(FromQColor(colours.color(QPalette::Text)));
    resize(400, 250);
    SetBorderStyle(bsSingle);
    SetScrollBars(ssBoth);
    SetSmoothScroll(false);
    setFont(DefaultFont());
    MeasureFont();
    SetView(this);
    // The published control speaks on its port; an owner may replace this.
    OnOutput = WriteToLinkedPort;
}

TCustomComTerminal::~TCustomComTerminal() {
    SetView(nullptr);
}

// ------------------------------------------------------------------ properties

void TCustomComTerminal::SetCaret(TTermCaret Value) {
    Damage(DrawnCaret);
    FCaret = Value;
    Damage(CaretRect());
}

void TCustomComTerminal::SetScrollBars(TScrollStyle Value) {
    FScrollBars = Value;
    const bool horizontal = Value == ssHorizontal || Value == ssBoth;
    const bool vertical = Value == ssVertical || Value == ssBoth;
    setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    RefreshScrollBars();
}

void TCustomComTerminal::SetSmoothScroll(bool Value) {
    FSmoothScroll = Value;
    // Without tracking the bars report a dragged thumb only when it is let go.
    horizontalScrollBar()->setTracking(Value);
    verticalScrollBar()->setTracking(Value);
}

void TCustomComTerminal::SetBorderStyle(TBorderStyle Value) {
    FBorderStyle = Value;
    setFrameStyle(Value == bsSingle ? (QFrame::Box | QFrame::Plain) : QFrame::NoFrame);
    setLineWidth(1);
    AdjustSize();
}

QSize TCustomComTerminal::sizeHint() const {
    const int border = 2 * frameWidth();
    return {FCellWidth * Columns() + border, FCellHeight * Rows() + border};
}

void TCustomComTerminal::AdjustSize() {
    updateGeometry();
    resize(sizeHint());
}

// --------------------------------------------------------------- font, colours

void TCustomComTerminal::MeasureFont() {
    if (MeasuringFont)
        return;
    MeasuringFont = true;
    QFont measured = font();
    if (!QFontInfo(measured).fixedPitch())
        measured.setFamily(DefaultFont().family());
    measured.setUnderline(false);
    if (measured != font())
        setFont(measured);
    const QFontMetrics metrics(measured);
    FCellHeight = std::max(1, metrics.height());
    FCellWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
    FAscent = metrics.ascent();
    SetFontColor(FromQColor(palette().color(QPalette::Text)));
    MeasuringFont = false;
    AdjustSize();
    RefreshScrollBars();
    RepaintAll();
}

void TCustomComTerminal::changeEvent(QEvent* Event) {
    QAbstractScrollArea::changeEvent(Event);
    if (Event->type() == QEvent::FontChange) {
        MeasureFont();
    } else if (Event->type() == QEvent::PaletteChange) {
        SetFontColor(FromQColor(palette().color(QPalette::Text)));
        SetColor(FromQColor(palette().color(QPalette::Base)));
        RepaintAll();
    }
}

// ------------------------------------------------------------------ scrolling

// Worked out from the client size as if no bar were shown: a bar that a larger grid
// needs takes room from the other direction, which may then need its bar too.
void TCustomComTerminal::RefreshScrollBars() {
    const int border = 2 * frameWidth();
    const int clientWidth = width() - border;
    const int clientHeight = height() - border;
    const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const bool horizontalAllowed = FScrollBars == ssHorizontal || FScrollBars == ssBoth;
    const bool verticalAllowed = FScrollBars == ssVertical || FScrollBars == ssBoth;
    bool horizontal = horizontalAllowed && Columns() * FCellWidth > clientWidth;
    const bool vertical =
        verticalAllowed && Rows() * FCellHeight > clientHeight - (horizontal ? extent : 0);
    if (vertical && !horizontal)
        horizontal = horizontalAllowed && Columns() * FCellWidth > clientWidth - extent;
    const int visibleCols = std::max(1, (clientWidth - (vertical ? extent : 0)) / FCellWidth);
    const int visibleRows = std::max(1, (clientHeight - (horizontal ? extent : 0)) / FCellHeight);
    horizontalScrollBar()->setRange(0, horizontal ? std::max(0, Columns() - visibleCols) : 0);
    horizontalScrollBar()->setPageStep(visibleCols);
    verticalScrollBar()->setRange(0, vertical ? std::max(0, Rows() - visibleRows) : 0);
    verticalScrollBar()->setPageStep(visibleRows);
    FViewCol = horizontalScrollBar()->value() + 1;
    FViewRow = verticalScrollBar()->value() + 1;
}

void TCustomComTerminal::scrollContentsBy(int, int) {
    FViewCol = horizontalScrollBar()->value() + 1;
    FViewRow = verticalScrollBar()->value() + 1;
    viewport()->update();
}

void TCustomComTerminal::resizeEvent(QResizeEvent* Event) {
    QAbstractScrollArea::resizeEvent(Event);
    RefreshScrollBars();
}

// ---------------------------------------------------------------------- view

QRect TCustomComTerminal::CellRect(int Left, int Top, int Right, int Bottom) const {
    const QRect cells(
        QPoint((Left - FViewCol) * FCellWidth, (Top - FViewRow) * FCellHeight),
        QPoint((Right - FViewCol + 1) * FCellWidth - 1, (Bottom - FViewRow + 1) * FCellHeight - 1));
    return cells.intersected(viewport()->rect());
}

QRect TCustomComTerminal::CaretRect() const {
    if (FCaret == tcNone || !hasFocus())
        return {};
    const int height = FCaret == tcBlock ? FCellHeight : std::max(1, FCellHeight / 8);
    return {(CaretCol() - FViewCol) * FCellWidth,
            (CaretRow() - FViewRow + 1) * FCellHeight - height, FCellWidth, height};
}

void TCustomComTerminal::Damage(const QRect& Pixels) {
    if (Pixels.isEmpty())
        return;
    if (Rendering)
        Pending |= Pixels;
    else
        viewport()->update(Pixels);
}

void TCustomComTerminal::InvalidateCells(int Left, int Top, int Right, int Bottom) {
    Damage(CellRect(Left, Top, Right, Bottom));
}

void TCustomComTerminal::ScrollRows(int) {
    Damage(viewport()->rect());
}

void TCustomComTerminal::CaretMoved(int, int) {
    // While a chunk is shown, ShowCaret redraws the caret once at its end.
    if (Rendering)
        return;
    Damage(DrawnCaret);
    Damage(CaretRect());
}

void TCustomComTerminal::HideCaret() {
    Damage(DrawnCaret);
    Rendering = true;
}

void TCustomComTerminal::ShowCaret() {
    Rendering = false;
    Damage(CaretRect());
    if (!Pending.isEmpty())
        viewport()->update(Pending);
    Pending = QRect();
}

void TCustomComTerminal::RepaintAll() {
    Damage(viewport()->rect());
}

void TCustomComTerminal::GridResized() {
    AdjustSize();
    RefreshScrollBars();
}

// ------------------------------------------------------------------- painting

void TCustomComTerminal::paintEvent(QPaintEvent* Event) {
    QPainter painter(viewport());
    painter.setFont(font());
    const QRect clip = Event->rect();
    painter.fillRect(clip, ToQColor(Color()));
    // Only cells inside the grid, also when the view is scrolled.
    const int firstCol = clip.left() / FCellWidth + FViewCol;
    const int lastCol = std::min(clip.right() / FCellWidth + FViewCol, Columns());
    const int firstRow = clip.top() / FCellHeight + FViewRow;
    const int lastRow = std::min(clip.bottom() / FCellHeight + FViewRow, Rows());
    for (int row = std::max(firstRow, 1); row <= lastRow; ++row)
        DrawRow(painter, row, std::max(firstCol, 1), lastCol);
    DrawnCaret = QRect();
    if (CaretShown()) {
        DrawnCaret = CaretRect();
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.fillRect(DrawnCaret, Qt::white);
    }
}

bool TCustomComTerminal::CaretShown() const {
    return !Rendering && FCaret != tcNone && hasFocus();
}

// Cells of one style in one run; a character outside ASCII gets a run of its own, so
// a glyph taken from a fallback font cannot push its neighbours off the grid.
void TCustomComTerminal::DrawRow(QPainter& Painter, int Row, int FirstCol, int LastCol) {
    const TComTermBuffer& buffer = ScreenBuffer();
    const int y = (Row - FViewRow) * FCellHeight;
    QString text;
    for (int col = FirstCol; col <= LastCol;) {
        const TTermCell& first = buffer.Cell(col, Row);
        if (first.Glyph == 0) {
            ++col;
            continue;
        }
        text.clear();
        int end = col;
        while (end <= LastCol) {
            const TTermCell& cell = buffer.Cell(end, Row);
            if (cell.Glyph == 0 || cell.TextColor != first.TextColor ||
                cell.FillColor != first.FillColor || cell.Underlined != first.Underlined ||
                (cell.Glyph >= 0x80 && end > col)) {
                break;
            }
            text += QChar(static_cast<char16_t>(Cp1252ToUnicode(cell.Glyph)));
            ++end;
            if (cell.Glyph >= 0x80)
                break;
        }
        const QRect run((col - FViewCol) * FCellWidth, y, (end - col) * FCellWidth, FCellHeight);
        Painter.fillRect(run, ToQColor(first.FillColor));
        Painter.setPen(ToQColor(first.TextColor));
        Painter.drawText(run.left(), y + FAscent, text);
        if (first.Underlined)
            Painter.drawLine(run.left(), y + FAscent + 1, run.right(), y + FAscent + 1);
        col = end;
    }
}

// ------------------------------------------------------------------- keyboard

void TCustomComTerminal::keyPressEvent(QKeyEvent* Event) {
    // Qt cannot carry an exception through its event loop: a failing write goes to the
    // application's exception report instead.
    try {
        switch (Event->key()) {
            case Qt::Key_Home:
                KeyDown(tkHome);
                return;
            case Qt::Key_Left:
                KeyDown(tkLeft);
                return;
            case Qt::Key_Up:
                KeyDown(tkUp);
                return;
            case Qt::Key_Right:
                KeyDown(tkRight);
                return;
            case Qt::Key_Down:
                KeyDown(tkDown);
                return;
            default:
                break;
        }
        std::string bytes;
        const QString text = Event->text();
        if (text.isEmpty() || !Utf8ToCp1252(text.toStdString(), bytes)) {
            QAbstractScrollArea::keyPressEvent(Event);
            return;
        }
        for (const char c : bytes)
            TypeChar(static_cast<std::uint8_t>(c));
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}

bool TCustomComTerminal::focusNextPrevChild(bool Next) {
    // Returning false hands the Tab key to keyPressEvent.
    return FWantTab ? false : QAbstractScrollArea::focusNextPrevChild(Next);
}

void TCustomComTerminal::focusInEvent(QFocusEvent* Event) {
    QAbstractScrollArea::focusInEvent(Event);
    Damage(CaretRect());
}

void TCustomComTerminal::focusOutEvent(QFocusEvent* Event) {
    QAbstractScrollArea::focusOutEvent(Event);
    Damage(DrawnCaret);
}

}  // namespace tarnwick
