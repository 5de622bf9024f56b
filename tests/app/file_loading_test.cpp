// Loading the firmware file from the file-name field and the "Auswählen" dialog, and
// how loads and the program view interact.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "hex_file.h"
#include "main_window.h"
#include "modal_answerer.h"
#include "temp_dir.h"
#include "test_window.h"

namespace tarnwick {
namespace {

using test::HexEnd;
using test::HexImage;
using test::HexLine;
using test::TModalAnswerer;

QString NotFound(const QString& Name) {
    return QStringLiteral("Datei \"") + Name + QStringLiteral("\" nicht gefunden!");
}

QString Loaded(const QString& Name) {
    return QStringLiteral("Programmdatei \"") + Name + QStringLiteral("\" geladen");
}

QStringList LogLines(const TMainWindow& Window) {
    const QString text = Window.LogMemo.toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

class FileLoading : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(Window.ShowStarted()); }

    QString Write(const std::string& Name, const std::string& Content) {
        return QString::fromStdString(Dir.Write(Name, Content));
    }
    QString Cell(int Row, int Column) const {
        return Window.ProgramGrid.Model().CellText(Row, Column);
    }
    int Rows() const { return Window.ProgramGrid.Model().rowCount(); }

    test::TTempDir Dir;
    test::TTestWindow Window;
};

TEST_F(FileLoading, TypingAPathReportsEveryMissingNameAndLoadsTheFile) {
    const QString file = Write("a.hex", HexImage(0x1F40));
    const QString folder = QString::fromStdString(Dir.Path().string()) + QLatin1Char('/');
    TModalAnswerer answerer;
    Window.FilenameInEdit.setText(folder);
    QTest::keyClicks(&Window.FilenameInEdit, QStringLiteral("a.hex"));

    const std::vector<QString> expectedBoxes = {NotFound(folder), NotFound(folder + "a"),
                                                NotFound(folder + "a."), NotFound(folder + "a.h"),
                                                NotFound(folder + "a.he")};
    EXPECT_EQ(answerer.Texts(), expectedBoxes);
    for (const test::TAnsweredBox& box : answerer.Boxes()) {
        EXPECT_EQ(box.Title, QStringLiteral("Tarnwick - Hinweis"));
    }
    QStringList expectedLog(expectedBoxes.begin(), expectedBoxes.end());
    expectedLog.append(Loaded(file));
    EXPECT_EQ(LogLines(Window), expectedLog);
    EXPECT_TRUE(Window.InfoMemo.toPlainText().isEmpty());
    EXPECT_TRUE(Window.StartBtn.isEnabled());
    EXPECT_EQ(Window.HighestAddress, 0x1F3F);
    ASSERT_EQ(Rows(), 500);
    EXPECT_EQ(Cell(0, 0), QStringLiteral("000000)"));
    EXPECT_EQ(Cell(0, 1), QStringLiteral("00 01 02 03 04 05 06 07 "));
    EXPECT_EQ(Cell(499, 0), QStringLiteral("001F30)"));
    EXPECT_EQ(Cell(499, 3), QStringLiteral("38 39 3A 3B 3C 3D 3E 3F "));
    EXPECT_FALSE(Window.ProgramGrid.isHidden());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

struct TBadFile {
    const char* Name;
    std::string Content;
    int Code;  // 0: reported nowhere
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const TBadFile& Value, std::ostream* Os) {
    *Os << Value.Name;
}

class FileLoadingBadFile : public FileLoading, public ::testing::WithParamInterface<TBadFile> {};

TEST_P(FileLoadingBadFile, DisablesStartReportsTheCodeAndKeepsTheView) {
    const TBadFile& bad = GetParam();
    Window.FilenameInEdit.setText(Write("good.hex", HexImage(0x40, 0x10)));
    ASSERT_TRUE(Window.StartBtn.isEnabled());
    ASSERT_EQ(Rows(), 4);
    const QStringList logBefore = LogLines(Window);

    TModalAnswerer answerer;
    Window.FilenameInEdit.setText(Write("bad.hex", bad.Content));
    EXPECT_FALSE(Window.StartBtn.isEnabled());
    QStringList expectedLog = logBefore;
    if (bad.Code != 0) {
        const QString message = QString::fromStdString(LoadResultMessage(bad.Code));
        ASSERT_FALSE(message.isEmpty());
        EXPECT_EQ(answerer.Texts(), std::vector<QString>{message});
        expectedLog.append(message);
    } else {
        EXPECT_TRUE(answerer.Boxes().empty());
    }
    EXPECT_EQ(LogLines(Window), expectedLog);
    EXPECT_TRUE(Window.InfoMemo.toPlainText().isEmpty());
    // The view still shows the previous image.
    ASSERT_EQ(Rows(), 4);
    EXPECT_EQ(Cell(3, 0), QStringLiteral("000030)"));
    EXPECT_EQ(Cell(3, 1), QStringLiteral("40 41 42 43 44 45 46 47 "));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileLoadingBadFile,
    ::testing::Values(
        TBadFile{"NotIntelHex", "Hallo Welt\r\n" + HexEnd, HexNoIntelHex},
        TBadFile{"UnknownRecord", HexLine(0x03, 0, {0, 0, 0, 0}) + HexEnd, HexUnknownRecord},
        TBadFile{"BadChecksum", HexLine(0x00, 0, {1, 2, 3}, 1) + HexEnd, HexBadChecksum},
        TBadFile{"TooLarge", HexLine(0x02, 0, {0x40, 0x00}) + HexLine(0x00, 0, {1}) + HexEnd,
                 HexTooLarge},
        TBadFile{"Duplicate", HexLine(0x00, 0, {1, 2}) + HexLine(0x00, 0, {1, 2}) + HexEnd,
                 HexDuplicate},
        TBadFile{"NoEndRecord", HexImage(0x20, 0, false), 0}),
    [](const ::testing::TestParamInfo<TBadFile>& Info) { return std::string(Info.param.Name); });

TEST_F(FileLoading, MissingFileIsReportedWithABoxAndDisablesStart) {
    const QString good = Write("good.hex", HexImage(0x20));
    Window.FilenameInEdit.setText(good);
    ASSERT_TRUE(Window.StartBtn.isEnabled());
    TModalAnswerer answerer;
    const QString missing = QStringLiteral("nicht/vorhanden/ä.hex");
    Window.FilenameInEdit.setText(missing);
    EXPECT_EQ(answerer.Texts(), std::vector<QString>{NotFound(missing)});
    EXPECT_FALSE(Window.StartBtn.isEnabled());
    EXPECT_EQ(LogLines(Window), (QStringList{Loaded(good), NotFound(missing)}));
    EXPECT_EQ(Rows(), 2);
}

TEST_F(FileLoading, MessagesNameTheFileAsTyped) {
    Write("rel.hex", HexImage(0x20));
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(Dir.Path().string())));
    TModalAnswerer answerer;
    Window.FilenameInEdit.setText(QStringLiteral("rel.hex"));
    Window.FilenameInEdit.setText(QStringLiteral("./fehlt.hex"));
    QDir::setCurrent(previous);
    EXPECT_EQ(LogLines(Window), (QStringList{Loaded(QStringLiteral("rel.hex")),
                                             NotFound(QStringLiteral("./fehlt.hex"))}));
    EXPECT_EQ(answerer.Texts(), std::vector<QString>{NotFound(QStringLiteral("./fehlt.hex"))});
    EXPECT_EQ(Rows(), 2);
}

TEST_F(FileLoading, HiddenViewIsNotFilledUntilShownAgain) {
    Window.ShowProgramChkBox.setChecked(false);
    Window.FilenameInEdit.setText(Write("a.hex", HexImage(0x100)));
    EXPECT_TRUE(Window.StartBtn.isEnabled());
    EXPECT_EQ(Rows(), 1);
    EXPECT_TRUE(Cell(0, 0).isEmpty());
    Window.ShowProgramChkBox.setChecked(true);
    EXPECT_EQ(Rows(), 16);
    EXPECT_EQ(Cell(15, 0), QStringLiteral("0000F0)"));
}

TEST_F(FileLoading, CompleteMemoryToggleRefillsTheLoadedImage) {
    Window.FilenameInEdit.setText(Write("a.hex", HexImage(0x1F40)));
    ASSERT_EQ(Rows(), 500);
    Window.ShowCompleteMemoryChkBox.click();
    ASSERT_EQ(Rows(), 16384);
    EXPECT_EQ(Cell(16383, 0), QStringLiteral("03FFF0)"));
    EXPECT_EQ(Cell(16383, 1), QStringLiteral("FF FF FF FF FF FF FF FF "));
    EXPECT_EQ(Window.ShowProgramProgressBar.value(), 0);
    Window.ShowCompleteMemoryChkBox.click();
    EXPECT_EQ(Rows(), 500);
    // A later load uses the box's state.
    Window.ShowCompleteMemoryChkBox.click();
    Window.FilenameInEdit.setText(Write("b.hex", HexImage(0x10)));
    EXPECT_EQ(Rows(), 16384);
}

TEST_F(FileLoading, SelectButtonLoadsTheChosenFileAndNotTheSameOneTwice) {
    const QString first = Write("erste.hex", HexImage(0x30));
    const QString second = Write("zweite.hex", HexImage(0x50));
    Window.FilenameInEdit.setText(first);
    ASSERT_EQ(LogLines(Window), QStringList{Loaded(first)});

    QStringList presets;
    QString choice;
    TModalAnswerer answerer([&](QFileDialog& Dialog) {
        presets.append(Dialog.selectedFiles().value(0));
        if (!choice.isEmpty()) {
            Dialog.selectFile(choice);
            static_cast<QDialog&>(Dialog).accept();  // validates like the OK button
        }
    });
    choice = second;
    Window.SelectInBtn.click();
    EXPECT_EQ(Window.FilenameInEdit.text(), second);
    EXPECT_EQ(LogLines(Window), (QStringList{Loaded(first), Loaded(second)}));
    EXPECT_EQ(Rows(), 5);

    // The same file again: no new load.
    Window.SelectInBtn.click();
    EXPECT_EQ(LogLines(Window), (QStringList{Loaded(first), Loaded(second)}));

    // Cancelled: nothing changes.
    choice.clear();
    Window.SelectInBtn.click();
    EXPECT_EQ(Window.FilenameInEdit.text(), second);
    EXPECT_EQ(LogLines(Window), (QStringList{Loaded(first), Loaded(second)}));

    EXPECT_EQ(answerer.FileDialogs(), 3);
    // Every time the dialog came up preset with the field's file.
    EXPECT_EQ(presets, (QStringList{first, second, second}));
    EXPECT_TRUE(answerer.Boxes().empty());
}

TEST_F(FileLoading, SelectDialogNamesItsFilterByDescriptionOnly) {
    QStringList filters;
    TModalAnswerer answerer([&](QFileDialog& Dialog) {
        for (const QComboBox* box : Dialog.findChildren<QComboBox*>()) {
            if (box->objectName() == QStringLiteral("fileTypeCombo")) {
                filters.append(box->currentText());
            }
        }
    });
    Window.SelectInBtn.click();
    ASSERT_EQ(answerer.FileDialogs(), 1);
    EXPECT_EQ(filters.join(QLatin1Char('|')).toStdString(), "Intel-HEX Programmdatei");
}

TEST_F(FileLoading, NameTypedDuringALoadIsLoadedAfterItNotInside) {
    // Many records: the loader pumps events after each, so the timer below fires
    // while the first file is still loading.
    const QString first = Write("gross.hex", HexImage(0xF000, 1));
    const QString second = Write("klein.hex", HexImage(0x30, 2));
    bool changedDuringLoad = false;
    QTimer::singleShot(0, &Window, [&] {
        changedDuringLoad = QApplication::overrideCursor() != nullptr;
        Window.FilenameInEdit.setText(second);
    });
    Window.FilenameInEdit.setText(first);
    ASSERT_TRUE(changedDuringLoad);
    EXPECT_EQ(LogLines(Window), (QStringList{Loaded(first), Loaded(second)}));
    EXPECT_EQ(Window.HighestAddress, 0x2F);
    ASSERT_EQ(Rows(), 3);
    EXPECT_EQ(Cell(0, 1), QStringLiteral("02 03 04 05 06 07 08 09 "));
    EXPECT_TRUE(Window.StartBtn.isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// The loader erases the image first and pumps events after every record: a click that
// arrives meanwhile (queued before the button was disabled) must not start an update on
// the image as far as it was read.
TEST_F(FileLoading, StartDuringALoadIsRefused) {
    Window.FilenameInEdit.setText(Write("klein.hex", HexImage(0x30)));
    ASSERT_TRUE(Window.StartBtn.isEnabled());
    TModalAnswerer answerer;
    answerer.YesNoAnswers = {true};
    bool duringLoad = false;
    bool startEnabledDuringLoad = true;
    QTimer::singleShot(0, &Window, [&] {
        duringLoad = QApplication::overrideCursor() != nullptr;
        startEnabledDuringLoad = Window.StartBtn.isEnabled();
        Window.StartBtn.click();
        Window.Behaviour.StartBtnClick();
    });
    Window.FilenameInEdit.setText(Write("gross.hex", HexImage(0xF000, 1)));
    ASSERT_TRUE(duringLoad);
    EXPECT_FALSE(startEnabledDuringLoad);
    EXPECT_TRUE(answerer.Boxes().empty()) << "an update started";
    EXPECT_TRUE(Window.InfoMemo.toPlainText().isEmpty());
    EXPECT_FALSE(Window.UpdateRunning());
    EXPECT_EQ(Window.HighestAddress, 0xEFFF);
    EXPECT_TRUE(Window.StartBtn.isEnabled());
}

// The close would run inside the load's pumping, with the load going on against a closed
// window: it waits for the load and then closes the window, settings written.
TEST_F(FileLoading, ACloseDuringALoadClosesTheWindowAfterIt) {
    bool visibleAfterClose = false;
    QTimer::singleShot(0, &Window, [&] {
        Window.close();
        visibleAfterClose = Window.isVisible() && QApplication::overrideCursor() != nullptr;
    });
    const QString file = Write("gross.hex", HexImage(0xF000, 1));
    Window.FilenameInEdit.setText(file);
    EXPECT_TRUE(visibleAfterClose) << "closed inside the load";
    EXPECT_EQ(LogLines(Window), QStringList{Loaded(file)});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Window.isVisible(); }, 5000));
    EXPECT_TRUE(std::filesystem::exists(Window.SettingsPath));
}

TEST_F(FileLoading, BoxTickedDuringAFillIsServedAfterTheFill) {
    Window.FilenameInEdit.setText(Write("a.hex", HexImage(0x100)));
    ASSERT_EQ(Rows(), 16);
    bool changedDuringFill = false;
    QTimer::singleShot(0, &Window, [&] {
        changedDuringFill = Window.ProgramGrid.isHidden();
        Window.ShowCompleteMemoryChkBox.setChecked(false);
    });
    Window.ShowCompleteMemoryChkBox.setChecked(true);
    ASSERT_TRUE(changedDuringFill);
    EXPECT_FALSE(Window.ShowCompleteMemoryChkBox.isChecked());
    EXPECT_EQ(Rows(), 16);
    EXPECT_FALSE(Window.ProgramGrid.isHidden());
}

TEST_F(FileLoading, BoxTickedWhileALoadFillsTheViewIsServedAfterTheFill) {
    // The fill after a load pumps events every 50 rows: the tick lands inside it.
    const QString file = Write("a.hex", HexImage(0x1000));
    bool tickedDuringFill = false;
    QObject::connect(&Window.ShowProgramProgressBar, &QProgressBar::valueChanged, &Window, [&] {
        if (!tickedDuringFill && Window.ProgramGrid.isHidden()) {
            tickedDuringFill = true;
            Window.ShowCompleteMemoryChkBox.setChecked(true);
        }
    });
    Window.FilenameInEdit.setText(file);
    ASSERT_TRUE(tickedDuringFill);
    EXPECT_TRUE(Window.ShowCompleteMemoryChkBox.isChecked());
    EXPECT_EQ(Rows(), MaxFlashSize / 16) << "the view must not contradict the box";
}

}  // namespace
}  // namespace tarnwick
