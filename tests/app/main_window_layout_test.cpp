// The window's controls: places, captions, initial states, fonts and tab order.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QScreen>
#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "main_window.h"

namespace tarnwick {
namespace {

struct TPlace {
    const char* Name;
    const char* Parent;  // nullptr: the window's client area
    int Left, Top, Width, Height;
    const char* Caption;  // nullptr: no caption to check
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const TPlace& Value, std::ostream* Os) {
    *Os << Value.Name;
}

QString CaptionOf(const QWidget& Widget) {
    if (const auto* group = qobject_cast<const QGroupBox*>(&Widget)) {
        return group->title();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(&Widget)) {
        return button->text();
    }
    if (const auto* label = qobject_cast<const QLabel*>(&Widget)) {
        return label->text();
    }
    return {};
}

class MainWindowPlaces : public ::testing::TestWithParam<TPlace> {};

TEST_P(MainWindowPlaces, ControlSitsWhereTheFormPutsIt) {
    const TPlace& p = GetParam();
    TMainWindow window;
    const auto* widget = window.findChild<QWidget*>(QString::fromLatin1(p.Name));
    ASSERT_NE(widget, nullptr) << p.Name;
    const QWidget* parent =
        p.Parent != nullptr ? window.findChild<QWidget*>(QString::fromLatin1(p.Parent)) : &window;
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(widget->parentWidget(), parent) << p.Name;
    // A label's place is that of its text box, below any room kept for accents.
    const int accentRoom =
        qobject_cast<const QLabel*>(widget) != nullptr ? widget->contentsMargins().top() : 0;
    EXPECT_EQ(widget->pos() + QPoint(0, accentRoom), QPoint(p.Left, p.Top)) << p.Name;
    if (p.Width > 0) {
        EXPECT_EQ(widget->size(), QSize(p.Width, p.Height)) << p.Name;
    }
    if (p.Caption != nullptr) {
        EXPECT_EQ(CaptionOf(*widget), QString::fromUtf8(p.Caption)) << p.Name;
    }
}

// Labels size themselves to their text, so only their place is fixed (width 0).
INSTANTIATE_TEST_SUITE_P(
    Form, MainWindowPlaces,
    ::testing::Values(
        TPlace{"SettingsGroupBox", nullptr, 8, 8, 326, 105, " Verbindungseinstellungen "},
        TPlace{"PasswordEdit", "SettingsGroupBox", 135, 76, 178, 21, nullptr},
        TPlace{"PasswordEditLabel", "SettingsGroupBox", 135, 60, 0, 0, "Bootloader-Passwort"},
        TPlace{"BaudComboBox", "SettingsGroupBox", 8, 76, 121, 21, nullptr},
        TPlace{"Label2", "SettingsGroupBox", 8, 59, 0, 0, "Baudrate"},
        TPlace{"ComComboBox", "SettingsGroupBox", 8, 32, 305, 21, nullptr},
        TPlace{"Label1", "SettingsGroupBox", 8, 16, 0, 0, "Port"},
        TPlace{"UpdateGroupBox", nullptr, 8, 119, 326, 218, " Update "},
        TPlace{"SelectInBtn", "UpdateGroupBox", 240, 29, 73, 30, "Auswählen"},
        TPlace{"FilenameInEdit", "UpdateGroupBox", 8, 33, 226, 21, nullptr},
        TPlace{"FilenameInEditLabel", "UpdateGroupBox", 8, 17, 0, 0, "Firmware-Datei"},
        TPlace{"StartBtn", "UpdateGroupBox", 13, 174, 145, 33, "Update starten!"},
        TPlace{"ProgramChkBox", "UpdateGroupBox", 8, 107, 161, 25, "Programmieren"},
        TPlace{"VerifyChkBox", "UpdateGroupBox", 8, 130, 161, 25, "Überprüfen"},
        TPlace{"ShowProgramChkBox", "UpdateGroupBox", 8, 60, 161, 25, "Programm anzeigen"},
        TPlace{"ShowCompleteMemoryChkBox", "UpdateGroupBox", 24, 84, 289, 25,
               "Kompletten Speicher anzeigen"},
        TPlace{"CancelButton", "UpdateGroupBox", 168, 174, 145, 33, "Abbrechen"},
        TPlace{"NoPowerCycleChkBox", "UpdateGroupBox", 170, 60, 150, 25, "Ohne Aus-/Einschalten"},
        TPlace{"TransferComboBox", "UpdateGroupBox", 170, 130, 143, 21, nullptr},
        TPlace{"TransferLabel", "UpdateGroupBox", 170, 113, 0, 0, "Übertragung"},
        TPlace{"StatusGroupBox", nullptr, 8, 343, 703, 149, " Status "},
        TPlace{"ConnectProgressBar", "StatusGroupBox", 8, 40, 685, 17, nullptr},
        TPlace{"Label3", "StatusGroupBox", 8, 21, 0, 0, "Verbinden"},
        TPlace{"ProgramProgressBar", "StatusGroupBox", 8, 82, 619, 17, nullptr},
        TPlace{"Label4", "StatusGroupBox", 8, 63, 0, 0, "Programmieren"},
        TPlace{"VerifyProgressBar", "StatusGroupBox", 8, 124, 685, 17, nullptr},
        TPlace{"Label6", "StatusGroupBox", 8, 105, 0, 0, "Überprüfen"},
        TPlace{"BufferProgressBar", "StatusGroupBox", 633, 82, 60, 17, nullptr},
        TPlace{"Label5", "StatusGroupBox", 633, 63, 0, 0, "Sendepuffer"},
        TPlace{"InfoGroupBox", nullptr, 340, 8, 371, 329, " Informationen "},
        TPlace{"HintLabel", "InfoGroupBox", 16, 20, 0, 0, "Hinweistext"},
        TPlace{"InfoMemo", "InfoGroupBox", 8, 56, 353, 156, nullptr},
        TPlace{"LogMemo", "InfoGroupBox", 8, 218, 353, 95, nullptr},
        TPlace{"ProgramGroupBox", nullptr, 8, 498, 703, 287, " Programm "},
        TPlace{"ProgramGrid", "ProgramGroupBox", 8, 24, 685, 233, nullptr},
        TPlace{"ShowProgramProgressBar", "ProgramGroupBox", 8, 263, 685, 17, nullptr},
        TPlace{"ComTerminal1", "ProgramGroupBox", 562, 200, 121, 57, nullptr}),
    [](const ::testing::TestParamInfo<TPlace>& Info) { return std::string(Info.param.Name); });

struct TInitialState {
    const char* Name;
    bool Enabled;
    bool Hidden;
    int Checked;  // -1: not a check box
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const TInitialState& Value, std::ostream* Os) {
    *Os << Value.Name;
}

class MainWindowInitialState : public ::testing::TestWithParam<TInitialState> {};

TEST_P(MainWindowInitialState, ControlStartsInItsFormState) {
    const TInitialState& s = GetParam();
    TMainWindow window;
    const auto* widget = window.findChild<QWidget*>(QString::fromLatin1(s.Name));
    ASSERT_NE(widget, nullptr) << s.Name;
    EXPECT_EQ(widget->isEnabled(), s.Enabled) << s.Name;
    EXPECT_EQ(widget->isHidden(), s.Hidden) << s.Name;
    if (s.Checked >= 0) {
        const auto* box = qobject_cast<const QAbstractButton*>(widget);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->isChecked(), s.Checked == 1) << s.Name;
    }
}

INSTANTIATE_TEST_SUITE_P(Form, MainWindowInitialState,
                         ::testing::Values(TInitialState{"SelectInBtn", true, false, -1},
                                           TInitialState{"StartBtn", false, false, -1},
                                           TInitialState{"CancelButton", false, false, -1},
                                           TInitialState{"ProgramChkBox", true, false, 1},
                                           TInitialState{"VerifyChkBox", true, false, 1},
                                           TInitialState{"ShowProgramChkBox", true, false, 1},
                                           TInitialState{"ShowCompleteMemoryChkBox", true, false,
                                                         0},
                                           TInitialState{"HintLabel", true, true, -1},
                                           TInitialState{"ProgramGroupBox", true, false, -1},
                                           TInitialState{"ComTerminal1", false, true, -1}),
                         [](const ::testing::TestParamInfo<TInitialState>& Info) {
                             return std::string(Info.param.Name);
                         });

TEST(MainWindow, IsAFixedSizeWindowWithItsCaption) {
    TMainWindow window;
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Tarnwick v. 2.1.9.106"));
    EXPECT_EQ(window.size(), QSize(719, 809));
    EXPECT_EQ(window.minimumSize(), QSize(719, 809));
    EXPECT_EQ(window.maximumSize(), QSize(719, 809));
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
}

TEST(MainWindow, TextControlsStartEmptyAndTheBaudListHoldsTheRates) {
    TMainWindow window;
    EXPECT_TRUE(window.PasswordEdit.text().isEmpty());
    EXPECT_TRUE(window.FilenameInEdit.text().isEmpty());
    EXPECT_TRUE(window.ComComboBox.currentText().isEmpty());
    EXPECT_TRUE(window.ComComboBox.isEditable());
    EXPECT_TRUE(window.InfoMemo.toPlainText().isEmpty());
    EXPECT_TRUE(window.LogMemo.toPlainText().isEmpty());
    EXPECT_FALSE(window.BaudComboBox.isEditable());
    EXPECT_EQ(window.BaudComboBox.currentIndex(), -1);
    const QStringList rates = {"2400",  "4800",   "9600",   "19200",  "38400",
                               "57600", "115200", "250000", "500000", "1000000"};
    ASSERT_EQ(window.BaudComboBox.count(), rates.size());
    for (int i = 0; i < rates.size(); ++i) {
        EXPECT_EQ(window.BaudComboBox.itemText(i), rates[i]);
    }
    for (const QProgressBar* bar :
         {&window.ConnectProgressBar, &window.ProgramProgressBar, &window.VerifyProgressBar,
          &window.BufferProgressBar, &window.ShowProgramProgressBar}) {
        EXPECT_EQ(bar->value(), 0) << bar->objectName().toStdString();
    }
    EXPECT_EQ(window.ProgramGrid.Model().rowCount(), 1);
    EXPECT_FALSE(window.InfoMemo.isReadOnly());
    EXPECT_FALSE(window.LogMemo.isReadOnly());
    EXPECT_EQ(window.InfoMemo.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(window.InfoMemo.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(window.LogMemo.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST(MainWindow, NonVisualPartsAreSetUpAndIdle) {
    TMainWindow window;
    EXPECT_EQ(window.OpenDialog.nameFilters(),
              QStringList{QStringLiteral("Intel-HEX Programmdatei (*.hex)")});
    EXPECT_EQ(window.OpenDialog.defaultSuffix(), QStringLiteral("hex"));
    EXPECT_EQ(window.HintFlashTimer.interval(), 500);
    EXPECT_FALSE(window.HintFlashTimer.isActive());
    EXPECT_EQ(window.StartupTimer.interval(), 10);
    EXPECT_FALSE(window.StartupTimer.isActive());
}

TEST(MainWindow, UsesElevenPixelControlsAndABoldRedNineteenPixelHint) {
    TMainWindow window;
    EXPECT_EQ(QFontInfo(window.StartBtn.font()).pixelSize(), 11);
    EXPECT_EQ(QFontInfo(window.LogMemo.font()).pixelSize(), 11);
    const QFontInfo hint(window.HintLabel.font());
    EXPECT_EQ(hint.pixelSize(), 19);
    EXPECT_TRUE(hint.bold());
    EXPECT_EQ(window.HintLabel.palette().color(QPalette::WindowText), QColor(Qt::red));
    const QFontInfo grid(window.ProgramGrid.font());
    EXPECT_EQ(grid.pixelSize(), 12);
    EXPECT_TRUE(grid.fixedPitch());
}

TEST(MainWindow, TabWalksTheControlsInFormOrder) {
    TMainWindow window;
    const std::vector<QWidget*> expected = {
        &window.PasswordEdit,      &window.BaudComboBox,
        &window.ComComboBox,       &window.SelectInBtn,
        &window.FilenameInEdit,    &window.StartBtn,
        &window.ProgramChkBox,     &window.VerifyChkBox,
        &window.ShowProgramChkBox, &window.ShowCompleteMemoryChkBox,
        &window.CancelButton,      &window.NoPowerCycleChkBox,
        &window.TransferComboBox,  &window.InfoMemo,
        &window.LogMemo,           &window.ProgramGrid};
    // Walk the focus chain from the first control and keep the controls that take
    // keyboard focus (an editable combo box hands its focus to its line edit).
    std::vector<QWidget*> chain;
    QWidget* widget = &window.PasswordEdit;
    for (int guard = 0; guard < 200 && chain.size() < expected.size(); ++guard) {
        QWidget* owner = widget;
        if (widget->focusProxy() == nullptr && widget->parentWidget() == &window.ComComboBox) {
            owner = &window.ComComboBox;
        }
        const bool listed = std::find(expected.begin(), expected.end(), owner) != expected.end();
        if (listed && (owner->focusPolicy() & Qt::TabFocus) &&
            (chain.empty() || chain.back() != owner)) {
            chain.push_back(owner);
        }
        widget = widget->nextInFocusChain();
    }
    EXPECT_EQ(chain, expected);
}

TEST(MainWindow, IsCentredOnThePrimaryScreenAtCreation) {
    TMainWindow window;
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(window.pos(), QPoint(screen.x() + CentredOffset(screen.width(), 719),
                                   screen.y() + CentredOffset(screen.height(), 809)));
}

struct TCentring {
    int Outer;
    int Inner;
    int Offset;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const TCentring& Value, std::ostream* Os) {
    *Os << Value.Outer << "-" << Value.Inner;
}

class CentredOffsetRounding : public ::testing::TestWithParam<TCentring> {};

TEST_P(CentredOffsetRounding, RoundsHalvesToTheEvenNeighbour) {
    const TCentring& c = GetParam();
    EXPECT_EQ(CentredOffset(c.Outer, c.Inner), c.Offset) << c.Outer << " " << c.Inner;
}

INSTANTIATE_TEST_SUITE_P(Cases, CentredOffsetRounding,
                         ::testing::Values(TCentring{10, 4, 3}, TCentring{10, 3, 4},
                                           TCentring{10, 5, 2}, TCentring{800, 719, 40},
                                           TCentring{1280, 719, 280}, TCentring{600, 809, -104},
                                           TCentring{4, 11, -4}, TCentring{5, 10, -2},
                                           TCentring{3, 10, -4}, TCentring{0, 0, 0}));

}  // namespace
}  // namespace tarnwick
