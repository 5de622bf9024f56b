// The window's output operations (messages, hint) and the handlers of its check boxes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <ostream>
#include <string>
#include <vector>

#include "main_window.h"
#include "modal_answerer.h"
#include "test_window.h"

namespace tarnwick {
namespace {

using test::TModalAnswerer;

QStringList Lines(const QPlainTextEdit& Memo) {
    return Memo.toPlainText().split(QLatin1Char('\n'));
}

struct TRouting {
    const char* Name;
    bool ShowBox;
    bool ToInfo;
    bool ToLog;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const TRouting& Value, std::ostream* Os) {
    *Os << Value.Name;
}

class ReportMessageRouting : public ::testing::TestWithParam<TRouting> {};

TEST_P(ReportMessageRouting, SendsTheTextExactlyWhereAsked) {
    const TRouting& r = GetParam();
    test::TTestWindow window;
    ASSERT_TRUE(window.ShowStarted());
    TModalAnswerer answerer;
    const QString text = QStringLiteral("Prüfsumme der Hex-Datei ungültig");
    window.ReportMessage(text, r.ShowBox, r.ToInfo, r.ToLog);
    EXPECT_EQ(window.LogMemo.toPlainText(), r.ToLog ? text : QString());
    EXPECT_EQ(window.InfoMemo.toPlainText(), r.ToInfo ? text : QString());
    ASSERT_EQ(answerer.Boxes().size(), r.ShowBox ? 1U : 0U);
    if (r.ShowBox) {
        const test::TAnsweredBox& box = answerer.Boxes().front();
        EXPECT_EQ(box.Title, QStringLiteral("Tarnwick - Hinweis"));
        EXPECT_EQ(box.Text, text);
        EXPECT_EQ(box.Icon, QMessageBox::Warning);
        EXPECT_EQ(box.Buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
}

INSTANTIATE_TEST_SUITE_P(Flags, ReportMessageRouting,
                         ::testing::Values(TRouting{"Nothing", false, false, false},
                                           TRouting{"LogOnly", false, false, true},
                                           TRouting{"InfoOnly", false, true, false},
                                           TRouting{"BoxOnly", true, false, false},
                                           TRouting{"BoxAndLog", true, false, true},
                                           TRouting{"All", true, true, true}),
                         [](const ::testing::TestParamInfo<TRouting>& Info) {
                             return std::string(Info.param.Name);
                         });

TEST(ReportMessage, LogKeepsItsNewestLineInView) {
    test::TTestWindow window;
    ASSERT_TRUE(window.ShowStarted());
    for (int i = 1; i <= 40; ++i) {
        window.ReportMessage(QStringLiteral("Zeile %1").arg(i), false, false, true);
        QApplication::processEvents();
        const QScrollBar* bar = window.LogMemo.verticalScrollBar();
        ASSERT_EQ(bar->value(), bar->maximum()) << "after line " << i;
    }
    EXPECT_GT(window.LogMemo.verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(Lines(window.LogMemo).size(), 40);
    EXPECT_EQ(Lines(window.LogMemo).back(), QStringLiteral("Zeile 40"));
    // The newest line is the one at the bottom of the box.
    const QRect viewport = window.LogMemo.viewport()->rect();
    const QTextCursor bottom = window.LogMemo.cursorForPosition(QPoint(5, viewport.bottom() - 8));
    EXPECT_EQ(bottom.block().text(), QStringLiteral("Zeile 40"));
}

TEST(ReportMessage, InformationBoxAlwaysShowsItsFirstLine) {
    test::TTestWindow window;
    ASSERT_TRUE(window.ShowStarted());
    for (int i = 1; i <= 40; ++i) {
        window.ReportMessage(QStringLiteral("Meldung %1").arg(i), false, true, false);
        QApplication::processEvents();
        ASSERT_EQ(window.InfoMemo.verticalScrollBar()->value(), 0) << "after line " << i;
        const QTextCursor top = window.InfoMemo.cursorForPosition(QPoint(5, 5));
        ASSERT_EQ(top.block().text(), QStringLiteral("Meldung 1")) << "after line " << i;
    }
    EXPECT_GT(window.InfoMemo.verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(Lines(window.InfoMemo).back(), QStringLiteral("Meldung 40"));
}

TEST(FlashHint, CentresTheResizedLabelAndStartsBlinking) {
    test::TTestWindow window;
    ASSERT_TRUE(window.ShowStarted());
    for (const QString& text :
         {QStringLiteral("Gerät wieder einschalten!"), QStringLiteral("Update läuft"),
          QStringLiteral("Gerät wieder einschalten! Jetzt sofort bitte")}) {
        window.FlashHint(true, text, 500);
        EXPECT_EQ(window.HintLabel.text(), text);
        EXPECT_EQ(window.HintLabel.width(), window.HintLabel.sizeHint().width());
        EXPECT_EQ(window.HintLabel.x(),
                  CentredOffset(window.InfoGroupBox.width(), window.HintLabel.width()))
            << text.toStdString();
        EXPECT_EQ(window.HintLabel.y(), 20);
        EXPECT_TRUE(window.HintLabel.isVisible());
        EXPECT_TRUE(window.HintFlashTimer.isActive());
        EXPECT_EQ(window.HintFlashTimer.interval(), 500);
    }
    // The long text is wider than the design text and still centred.
    EXPECT_GT(window.HintLabel.width(), 115);
}

TEST(FlashHint, TimerTogglesTheLabel) {
    test::TTestWindow window;
    ASSERT_TRUE(window.ShowStarted());
    window.FlashHint(true, QStringLiteral("Update läuft"), 30);
    EXPECT_EQ(window.HintFlashTimer.interval(), 30);
    window.HintFlashTimerTimer(&window.HintFlashTimer);
    EXPECT_FALSE(window.HintLabel.isVisible());
    window.HintFlashTimerTimer(&window.HintFlashTimer);
    EXPECT_TRUE(window.HintLabel.isVisible());
    // And the running timer does it by itself.
    bool seenHidden = false;
    bool seenShown = false;
    QElapsedTimer clock;
    clock.start();
    while (!(seenHidden && seenShown) && clock.elapsed() < 5000) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        seenHidden = seenHidden || window.HintLabel.isHidden();
        seenShown = seenShown || (seenHidden && !window.HintLabel.isHidden());
    }
    EXPECT_TRUE(seenHidden);
    EXPECT_TRUE(seenShown);
}

struct THideCase {
    const char* Name;
    bool LabelShownBefore;
    bool TimerRunningBefore;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const THideCase& Value, std::ostream* Os) {
    *Os << Value.Name;
}

class FlashHintOff : public ::testing::TestWithParam<THideCase> {};

TEST_P(FlashHintOff, HidesTheLabelAndStopsTheTimerWhateverTheState) {
    const THideCase& c = GetParam();
    test::TTestWindow window;
    ASSERT_TRUE(window.ShowStarted());
    window.FlashHint(true, QStringLiteral("Update läuft"), 500);
    window.HintLabel.setVisible(c.LabelShownBefore);
    if (!c.TimerRunningBefore) {
        window.HintFlashTimer.stop();
    }
    window.FlashHint(false, QString(), 500);
    EXPECT_TRUE(window.HintLabel.isHidden());
    EXPECT_FALSE(window.HintFlashTimer.isActive());
    EXPECT_TRUE(window.HintLabel.text().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(States, FlashHintOff,
                         ::testing::Values(THideCase{"ShownBlinking", true, true},
                                           THideCase{"HiddenPhaseOfBlink", false, true},
                                           THideCase{"ShownStill", true, false},
                                           THideCase{"AlreadyOff", false, false}),
                         [](const ::testing::TestParamInfo<THideCase>& Info) {
                             return std::string(Info.param.Name);
                         });

TEST(CheckBoxes, ProgramAndVerifyEnableTheirProgressBars) {
    test::TTestWindow window;
    window.ProgramChkBox.setChecked(false);
    EXPECT_FALSE(window.ProgramProgressBar.isEnabled());
    EXPECT_FALSE(window.BufferProgressBar.isEnabled());
    EXPECT_TRUE(window.VerifyProgressBar.isEnabled());
    window.VerifyChkBox.setChecked(false);
    EXPECT_FALSE(window.VerifyProgressBar.isEnabled());
    window.ProgramChkBox.click();
    EXPECT_TRUE(window.ProgramProgressBar.isEnabled());
    EXPECT_TRUE(window.BufferProgressBar.isEnabled());
    window.VerifyChkBox.click();
    EXPECT_TRUE(window.VerifyProgressBar.isEnabled());
}

QPoint CentredPosition(const QSize& Size) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    return {screen.x() + CentredOffset(screen.width(), Size.width()),
            screen.y() + CentredOffset(screen.height(), Size.height())};
}

TEST(ShowProgram, UntickingHidesTheViewShrinksAndRecentresTheWindow) {
    test::TTestWindow window;
    ASSERT_TRUE(window.ShowStarted());
    window.move(3, 7);
    window.ShowProgramChkBox.click();
    EXPECT_TRUE(window.ProgramGroupBox.isHidden());
    EXPECT_EQ(window.size(), QSize(719, 809 - 287));
    EXPECT_EQ(window.pos(), CentredPosition(window.frameGeometry().size()));
    EXPECT_FALSE(window.ShowCompleteMemoryChkBox.isEnabled());

    window.move(3, 7);
    window.ShowProgramChkBox.click();
    EXPECT_FALSE(window.ProgramGroupBox.isHidden());
    EXPECT_EQ(window.size(), QSize(719, 809));
    EXPECT_EQ(window.pos(), CentredPosition(window.frameGeometry().size()));
    EXPECT_TRUE(window.ShowCompleteMemoryChkBox.isEnabled());
}

TEST(ShowProgram, CompleteMemoryBeforeAnyLoadChangesNothing) {
    test::TTestWindow window;
    ASSERT_TRUE(window.ShowStarted());
    window.ShowCompleteMemoryChkBox.click();
    EXPECT_TRUE(window.ShowCompleteMemoryChkBox.isChecked());
    EXPECT_EQ(window.ProgramGrid.Model().rowCount(), 1);
    EXPECT_TRUE(window.ProgramGrid.Model().CellText(0, 0).isEmpty());
    window.ShowProgramChkBox.click();
    window.ShowProgramChkBox.click();
    EXPECT_EQ(window.ProgramGrid.Model().rowCount(), 1);
}

}  // namespace
}  // namespace tarnwick
