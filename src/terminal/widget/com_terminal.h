// The terminal control: the terminal core drawn in a Qt widget with its font, caret,
// keyboard and scroll bars. Only damaged cells are repainted; drawing requests of one
// received chunk are gathered and handed to Qt once at its end.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QRect>

#include "terminal/com_terminal_core.h"

namespace tarnwick {

enum TTermCaret : std::uint8_t { tcBlock, tcUnderline, tcNone };
enum TScrollStyle : std::uint8_t { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TBorderStyle : std::uint8_t { bsNone, bsSingle };

class TCustomComTerminal : public QAbstractScrollArea, public TComTerminalCore, private TTermView {
    Q_OBJECT
  public:
    explicit TCustomComTerminal(QWidget* Parent = nullptr);
    ~TCustomComTerminal() override;

    // Fixedsys 9 (from Debian's fonts-wine, loaded once) where installed, else DejaVu
    // Sans Mono; always fixed pitch.
    static QFont DefaultFont();

    TTermCaret Caret() const { return FCaret; }
    void SetCaret(TTermCaret Value);
    TScrollStyle ScrollBars() const { return FScrollBars; }
    void SetScrollBars(TScrollStyle Value);
    // Scroll while the thumb is dragged, not only when it is let go.
    bool SmoothScroll() const { return FSmoothScroll; }
    void SetSmoothScroll(bool Value);
    // The control takes the Tab key instead of passing the focus on.
    bool WantTab() const { return FWantTab; }
    void SetWantTab(bool Value) { FWantTab = Value; }
    TBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TBorderStyle Value);
    // Focus by Tab and click; without it the control takes the focus only when asked.
    bool TabStop() const { return focusPolicy() != Qt::NoFocus; }
    void SetTabStop(bool Value) { setFocusPolicy(Value ? Qt::StrongFocus : Qt::NoFocus); }

    // The first visible cell (follows the scroll bars).
    int ViewCol() const { return FViewCol; }
    int ViewRow() const { return FViewRow; }
    int CellWidth() const { return FCellWidth; }
    int CellHeight() const { return FCellHeight; }
    // Whether the caret is drawn (the control has the focus and no chunk is being shown).
    bool CaretShown() const;

    // Columns x Rows cells plus the border.
    QSize sizeHint() const override;
    // Gives the control the size of its cells (also after Columns, Rows or the font change).
    void AdjustSize();

  protected:
    void paintEvent(QPaintEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void focusInEvent(QFocusEvent* Event) override;
    void focusOutEvent(QFocusEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void changeEvent(QEvent* Event) override;
    void scrollContentsBy(int Dx, int Dy) override;
    bool focusNextPrevChild(bool Next) override;

  private:
    // TTermView
    void InvalidateCells(int Left, int Top, int Right, int Bottom) override;
    void ScrollRows(int Rows) override;
    void CaretMoved(int Column, int Row) override;
    void HideCaret() override;
    void ShowCaret() override;
    void RepaintAll() override;
    void GridResized() override;

    void MeasureFont();
    void RefreshScrollBars();
    void Damage(const QRect& Pixels);
    QRect CellRect(int Left, int Top, int Right, int Bottom) const;
    QRect CaretRect() const;
    void DrawRow(QPainter& Painter, int Row, int FirstCol, int LastCol);

    TTermCaret FCaret = tcBlock;
    TScrollStyle FScrollBars = ssBoth;
    bool FSmoothScroll = false;
    bool FWantTab = false;
    TBorderStyle FBorderStyle = bsSingle;
    int FViewCol = 1;
    int FViewRow = 1;
    int FCellWidth = 8;
    int FCellHeight = 16;
    int FAscent = 12;
    bool Rendering = false;  // between HideCaret and ShowCaret: gather damage
    QRect Pending;           // damage gathered meanwhile, in viewport pixels
    QRect DrawnCaret;        // where the last paint drew the caret
    bool MeasuringFont = false;
};

// The published control.
class TComTerminal : public TCustomComTerminal {
    Q_OBJECT
  public:
    using TCustomComTerminal::TCustomComTerminal;
};

}  // namespace tarnwick
