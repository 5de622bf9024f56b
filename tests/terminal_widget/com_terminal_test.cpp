// The terminal control on the offscreen platform, linked to a real port on a
// pseudo-terminal: keys typed into the widget go out on the line, received bytes are
// painted, and only the damaged cells are repainted.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPaintEvent>
#include <QScrollBar>
#include <QVBoxLayout>
#include <chrono>
#include <functional>
#include <string>

#include "com_terminal.h"
#include "comport/com_port.h"
#include "event_pump.h"
#include "pty_pair.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using test::TPtyPair;

bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Timeout = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + Timeout;
    while (!Done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Keeps the rectangles the viewport is asked to paint.
class TPaintSpy : public QObject {
  public:
    QRegion Painted;
    bool eventFilter(QObject*, QEvent* Event) override {
        if (Event->type() == QEvent::Paint)
            Painted += static_cast<QPaintEvent*>(Event)->region();
        return false;
    }
};

struct TRig {
    // Hand-overs run from Qt's event loop, as in the programs.
    const bool Connected = (ConnectDispatcherToEventLoop(), true);
    TPtyPair Pty;
    TComPort Port;
    TComTerminal Terminal;  // freed before the port
    std::string Shown;
    TRig() {
        Port.SetPort(Pty.SlavePath());
        Port.SetEvents({evRxChar});
        Terminal.SetComPort(&Port);
        Terminal.OnChar = [this](TComTerminalCore&, std::uint8_t Ch) {
            Shown += static_cast<char>(Ch);
        };
        Port.Open();
        Terminal.show();
        Terminal.activateWindow();
        Terminal.setFocus();
        PumpUntil([&] { return Terminal.isVisible(); });
    }
    void Receive(const std::string& Bytes, const std::string& Marker) {
        Shown.clear();
        Pty.Send(Bytes + Marker);
        ASSERT_TRUE(PumpUntil([&] { return Shown.find(Marker) != std::string::npos; }));
        QCoreApplication::processEvents();
    }
    void Key(int Code, const QString& Text = {}) {
        QKeyEvent press(QEvent::KeyPress, Code, Qt::NoModifier, Text);
        QApplication::sendEvent(&Terminal, &press);
    }
    QColor CellColour(int Col, int Row) {
        const QImage image = Terminal.viewport()->grab().toImage();
        return image.pixelColor((Col - Terminal.ViewCol()) * Terminal.CellWidth() + 1,
                                (Row - Terminal.ViewRow()) * Terminal.CellHeight() + 1);
    }
};

TEST(ComTerminalWidget, TypedKeysAndArrowKeysReachThePort) {
    TRig rig;
    rig.Terminal.SetSendLF(true);
    rig.Key(Qt::Key_A, "a");
    rig.Key(Qt::Key_Adiaeresis, QString::fromUtf8("ä"));
    rig.Key(Qt::Key_Return, "\r");
    rig.Key(Qt::Key_Up);
    rig.Key(Qt::Key_Home);
    EXPECT_EQ(rig.Pty.Receive(10, 2s), "a\xE4\r\n\x1b[A\x1b[H");

    // A character Windows-1252 has no byte for is not sent.
    rig.Key(Qt::Key_unknown, QString::fromUtf8("€→"));
    rig.Key(Qt::Key_B, "b");
    EXPECT_EQ(rig.Pty.Receive(1, 1s), "b");

    // The device switches to application cursor keys.
    rig.Receive("\x1b[?1h", "#");
    rig.Key(Qt::Key_Right);
    rig.Key(Qt::Key_Down);
    EXPECT_EQ(rig.Pty.Receive(6, 2s), "\x1bOC\x1bOB");
}

TEST(ComTerminalWidget, TabIsTypedOnlyWhenWanted) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* terminal = new TComTerminal;
    auto* next = new QLineEdit;
    layout->addWidget(terminal);
    layout->addWidget(next);
    terminal->SetLocalEcho(true);  // a typed Tab moves the caret to the next tab stop
    window.show();
    QApplication::setActiveWindow(&window);
    terminal->setFocus();
    ASSERT_TRUE(PumpUntil([&] { return terminal->hasFocus(); }));

    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, "\t");
    QApplication::sendEvent(terminal, &tab);
    EXPECT_EQ(terminal->CaretCol(), 1);
    EXPECT_TRUE(next->hasFocus());

    terminal->SetWantTab(true);
    terminal->setFocus();
    QApplication::sendEvent(terminal, &tab);
    EXPECT_EQ(terminal->CaretCol(), 9);
    EXPECT_TRUE(terminal->hasFocus());
}

TEST(ComTerminalWidget, PaintsReceivedCellsAndRepaintsOnlyTheDamagedOnes) {
    TRig rig;
    rig.Receive("\x1b[3;5H\x1b[7m  \x1b[m\x1b[6n", "x");
    EXPECT_EQ(rig.Pty.Receive(6, 2s), "\x1b[3;7R");
    EXPECT_EQ(rig.CellColour(5, 3), QColor(Qt::white));  // reversed blank: white fill
    EXPECT_EQ(rig.CellColour(6, 3), QColor(Qt::white));
    EXPECT_EQ(rig.CellColour(4, 3), QColor(Qt::black));
    EXPECT_EQ(rig.CellColour(5, 2), QColor(Qt::black));

    rig.Receive("\x1b[10;10H", "-");
    TPaintSpy spy;
    rig.Terminal.viewport()->installEventFilter(&spy);
    rig.Receive("ab", "c");
    const int w = rig.Terminal.CellWidth(), h = rig.Terminal.CellHeight();
    // Cells 11..13 of row 10 and the caret after them; nothing else.
    ASSERT_FALSE(spy.Painted.isEmpty());
    EXPECT_TRUE((spy.Painted - QRect(10 * w, 9 * h, 4 * w, h)).isEmpty());

    // Erasing to the screen end repaints the rows below whole, left of the caret too.
    spy.Painted = QRegion();
    rig.Receive("\x1b[J", "+");
    EXPECT_TRUE((QRegion(0, 10 * h, 80 * w, 14 * h) - spy.Painted).isEmpty());

    spy.Painted = QRegion();
    rig.Receive("\x1b[24;1H\r\n", ".");  // a scroll repaints everything
    EXPECT_EQ(spy.Painted.boundingRect(), rig.Terminal.viewport()->rect());
}

TEST(ComTerminalWidget, ScrollBarsMoveTheViewAndShrinkingStaysInsideTheGrid) {
    TRig rig;
    rig.Terminal.SetColumns(120);
    rig.Terminal.resize(rig.Terminal.CellWidth() * 80, rig.Terminal.CellHeight() * 30);
    QScrollBar* bar = rig.Terminal.horizontalScrollBar();
    PumpUntil([&] { return bar->maximum() > 0; }, 1s);
    EXPECT_GE(bar->maximum(), 40);
    rig.Receive("\x1b[1;100H\x1b[7m \x1b[m", "*");
    bar->setValue(bar->maximum());
    EXPECT_EQ(rig.Terminal.ViewCol(), bar->maximum() + 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.CellColour(100, 1), QColor(Qt::white));
    EXPECT_EQ(rig.CellColour(99, 1), QColor(Qt::black));

    // The grid shrinks below the scrolled view: the view follows, nothing is drawn outside.
    rig.Terminal.SetColumns(20);
    PumpUntil([&] { return rig.Terminal.ViewCol() == 1; }, 1s);
    EXPECT_EQ(rig.Terminal.ViewCol(), 1);
    EXPECT_EQ(rig.Terminal.CaretCol(), 20);
    rig.Terminal.viewport()->repaint();
    rig.Receive("\x1b[5;5Hz", "!");
}

// As the main window holds it: hidden and disabled, it still keeps the port reading and
// answers queries, and takes no keys.
TEST(ComTerminalWidget, HiddenAndDisabledItStillAnswersQueries) {
    TRig rig;
    rig.Terminal.hide();
    rig.Terminal.setEnabled(false);
    EXPECT_TRUE(rig.Port.LinkWantsRxData());
    rig.Receive("\x1b[c\x1b[5n", ".");
    EXPECT_EQ(rig.Pty.Receive(11, 2s), "\x1b[?1;2c\x1b[0n");
    rig.Key(Qt::Key_A, "a");
    EXPECT_EQ(rig.Pty.Receive(1, 200ms), "");
}

TEST(ComTerminalWidget, SizeFollowsTheCellsAndFontsAreFixedPitch) {
    TComTerminal terminal;
    terminal.SetColumns(300);
    terminal.SetRows(1);
    const int border = 2 * terminal.frameWidth();
    EXPECT_EQ(terminal.size(),
              QSize(256 * terminal.CellWidth() + border, 2 * terminal.CellHeight() + border));

    QFont proportional("DejaVu Sans", 12);
    proportional.setUnderline(true);
    terminal.setFont(proportional);
    EXPECT_TRUE(QFontInfo(terminal.font()).fixedPitch());
    EXPECT_FALSE(terminal.font().underline());
    EXPECT_EQ(terminal.CellWidth(),
              QFontMetrics(terminal.font()).horizontalAdvance(QLatin1Char('W')));
}

}  // namespace
}  // namespace tarnwick
