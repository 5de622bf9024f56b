#include "main_window.h"

#include <QApplication>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QScreen>
#include <QScrollBar>
#include <QSessionManager>
#include <algorithm>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "bootloader/line_rates.h"
#include "event_pump.h"

namespace tarnwick {

namespace {

// The wine package ships Tahoma outside fontconfig's path; register it once.
void LoadWineFonts() {
    static const bool loaded = [] {
        for (const char* path :
             {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"}) {
            const QString fileName = QString::fromLatin1(path);
            if (QFileInfo::exists(fileName)) {
                QFontDatabase::addApplicationFont(fileName);
            }
        }
        return true;
    }();
    static_cast<void>(loaded);
}

// The column right of "Programmieren" and "Überprüfen" that the form leaves free.
constexpr int TransferColumnLeft = 170;
constexpr int TransferColumnWidth = 143;

void SetProgressBar(QProgressBar& Bar) {
    Bar.setRange(0, 100);
    Bar.setValue(0);
    Bar.setTextVisible(false);
}

// Places a label's text box at Left, Top. With the fonts available here the dots of a
// capital umlaut (the Ü of "Überprüfen") rise above the font's ascent and would be cut
// off at the label's top edge; such a label gets that much room above its text box.
void SetLabel(QLabel& Label, const QString& Caption, int Left, int Top) {
    Label.setText(Caption);
    const QFontMetrics metrics(Label.font());
    const int overflow = std::max(0, -metrics.boundingRect(Caption).top() - metrics.ascent());
    Label.setContentsMargins(0, overflow, 0, 0);
    Label.move(Left, Top - overflow);
    Label.adjustSize();
}

void SetCheckBox(QCheckBox& Box, const QString& Caption, const QRect& Place, bool Checked) {
    Box.setText(Caption);
    Box.setGeometry(Place);
    Box.setChecked(Checked);
}

}  // namespace

QFont ControlFont() {
    LoadWineFonts();
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

QFont HintFont() {
    QFont font = ControlFont();
    font.setBold(true);
    font.setPixelSize(19);
    return font;
}

TMainWindow::TMainWindow(QWidget* Parent) : QWidget(Parent) {
    setObjectName(QStringLiteral("MainWindow"));
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Tarnwick v. " TARNWICK_FULL_VERSION));
    setFont(ControlFont());
    setFixedSize(MainWindowClientWidth, MainWindowClientHeight);
    ConnectDispatcherToEventLoop();
    SetUpControls();
    SetUpTabOrder();
    ConnectHandlers();
    ConnectSessionManager();
    Behaviour.FormCreate();
}

void TMainWindow::ConnectSessionManager() {
#if QT_CONFIG(sessionmanager)
    // A logoff asks every program first. During an update the answer is no, when the
    // session manager lets the program speak; else the settings are saved, as a close
    // would, since the program may be ended without one.
    TWindowBehaviour& behaviour = Behaviour;
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [&behaviour](QSessionManager& Manager) {
                if (behaviour.QueryEndSession()) {
                    behaviour.EndSession(true);
                } else if (Manager.allowsInteraction()) {
                    Manager.cancel();
                    Manager.release();
                }
            });
#endif
}

TMainWindow::~TMainWindow() {
    HintFlashTimer.stop();
    StartupTimer.stop();
}

void TMainWindow::SetUpControls() {
    const std::initializer_list<std::pair<QObject*, const char*>> names = {
        {&SettingsGroupBox, "SettingsGroupBox"},
        {&PasswordEditLabel, "PasswordEditLabel"},
        {&PasswordEdit, "PasswordEdit"},
        {&Label2, "Label2"},
        {&BaudComboBox, "BaudComboBox"},
        {&Label1, "Label1"},
        {&ComComboBox, "ComComboBox"},
        {&UpdateGroupBox, "UpdateGroupBox"},
        {&SelectInBtn, "SelectInBtn"},
        {&FilenameInEditLabel, "FilenameInEditLabel"},
        {&FilenameInEdit, "FilenameInEdit"},
        {&StartBtn, "StartBtn"},
        {&ProgramChkBox, "ProgramChkBox"},
        {&VerifyChkBox, "VerifyChkBox"},
        {&ShowProgramChkBox, "ShowProgramChkBox"},
        {&ShowCompleteMemoryChkBox, "ShowCompleteMemoryChkBox"},
        {&CancelButton, "CancelButton"},
        {&NoPowerCycleChkBox, "NoPowerCycleChkBox"},
        {&TransferLabel, "TransferLabel"},
        {&TransferComboBox, "TransferComboBox"},
        {&StatusGroupBox, "StatusGroupBox"},
        {&Label3, "Label3"},
        {&ConnectProgressBar, "ConnectProgressBar"},
        {&Label4, "Label4"},
        {&ProgramProgressBar, "ProgramProgressBar"},
        {&Label6, "Label6"},
        {&VerifyProgressBar, "VerifyProgressBar"},
        {&Label5, "Label5"},
        {&BufferProgressBar, "BufferProgressBar"},
        {&InfoGroupBox, "InfoGroupBox"},
        {&HintLabel, "HintLabel"},
        {&InfoMemo, "InfoMemo"},
        {&LogMemo, "LogMemo"},
        {&ProgramGroupBox, "ProgramGroupBox"},
        {&ProgramGrid, "ProgramGrid"},
        {&ShowProgramProgressBar, "ShowProgramProgressBar"},
        {&ComTerminal1, "ComTerminal1"},
        {&OpenDialog, "OpenDialog"},
        {&HintFlashTimer, "HintFlashTimer"},
        {&StartupTimer, "StartupTimer"},
    };
    for (const auto& [object, name] : names) {
        object->setObjectName(QString::fromLatin1(name));
    }

    // Connection settings.
    SettingsGroupBox.setTitle(QStringLiteral(" Verbindungseinstellungen "));
    SettingsGroupBox.setGeometry(8, 8, 326, 105);
    PasswordEdit.setGeometry(135, 76, 178, 21);
    SetLabel(PasswordEditLabel, QStringLiteral("Bootloader-Passwort"), 135, 60);
    PasswordEditLabel.setBuddy(&PasswordEdit);
    BaudComboBox.setEditable(false);
    for (const std::string_view rate : LineRates) {
        BaudComboBox.addItem(QString::fromLatin1(rate.data(), static_cast<int>(rate.size())));
    }
    BaudComboBox.setCurrentIndex(-1);
    BaudComboBox.setGeometry(8, 76, 121, 21);
    SetLabel(Label2, QStringLiteral("Baudrate"), 8, 59);
    ComComboBox.setEditable(true);
    ComComboBox.setInsertPolicy(QComboBox::NoInsert);
    ComComboBox.setGeometry(8, 32, 305, 21);
    SetLabel(Label1, QStringLiteral("Port"), 8, 16);

    // Update.
    UpdateGroupBox.setTitle(QStringLiteral(" Update "));
    UpdateGroupBox.setGeometry(8, 119, 326, 218);
    SelectInBtn.setText(QStringLiteral("Auswählen"));
    SelectInBtn.setGeometry(240, 29, 73, 30);
    FilenameInEdit.setGeometry(8, 33, 226, 21);
    SetLabel(FilenameInEditLabel, QStringLiteral("Firmware-Datei"), 8, 17);
    FilenameInEditLabel.setBuddy(&FilenameInEdit);
    StartBtn.setText(QStringLiteral("Update starten!"));
    StartBtn.setGeometry(13, 174, 145, 33);
    StartBtn.setEnabled(false);
    SetCheckBox(ProgramChkBox, QStringLiteral("Programmieren"), QRect(8, 107, 161, 25), true);
    SetCheckBox(VerifyChkBox, QStringLiteral("Überprüfen"), QRect(8, 130, 161, 25), true);
    SetCheckBox(ShowProgramChkBox, QStringLiteral("Programm anzeigen"), QRect(8, 60, 161, 25),
                true);
    SetCheckBox(ShowCompleteMemoryChkBox, QStringLiteral("Kompletten Speicher anzeigen"),
                QRect(24, 84, 289, 25), false);
    CancelButton.setText(QStringLiteral("Abbrechen"));
    CancelButton.setGeometry(168, 174, 145, 33);
    CancelButton.setEnabled(false);
    // The items come from the behaviour, with the settings.
    // Up to the group's frame: the caption is wide in some renderings of Tahoma.
    SetCheckBox(NoPowerCycleChkBox, QStringLiteral("Ohne Aus-/Einschalten"),
                QRect(TransferColumnLeft, 60, TransferColumnWidth + 7, 25), false);
    SetLabel(TransferLabel, QStringLiteral("Übertragung"), TransferColumnLeft, 113);
    TransferLabel.setBuddy(&TransferComboBox);
    TransferComboBox.setEditable(false);
    TransferComboBox.setGeometry(TransferColumnLeft, 130, TransferColumnWidth, 21);

    // Status.
    StatusGroupBox.setTitle(QStringLiteral(" Status "));
    StatusGroupBox.setGeometry(8, 343, 703, 149);
    SetProgressBar(ConnectProgressBar);
    ConnectProgressBar.setGeometry(8, 40, 685, 17);
    SetLabel(Label3, QStringLiteral("Verbinden"), 8, 21);
    SetProgressBar(ProgramProgressBar);
    ProgramProgressBar.setGeometry(8, 82, 619, 17);
    SetLabel(Label4, QStringLiteral("Programmieren"), 8, 63);
    SetProgressBar(VerifyProgressBar);
    VerifyProgressBar.setGeometry(8, 124, 685, 17);
    SetLabel(Label6, QStringLiteral("Überprüfen"), 8, 105);
    SetProgressBar(BufferProgressBar);
    BufferProgressBar.setGeometry(633, 82, 60, 17);
    SetLabel(Label5, QStringLiteral("Sendepuffer"), 633, 63);

    // Information.
    InfoGroupBox.setTitle(QStringLiteral(" Informationen "));
    InfoGroupBox.setGeometry(340, 8, 371, 329);
    HintLabel.setFont(HintFont());
    QPalette hintPalette = HintLabel.palette();
    hintPalette.setColor(QPalette::WindowText, Qt::red);
    HintLabel.setPalette(hintPalette);
    SetLabel(HintLabel, QStringLiteral("Hinweistext"), 16, 20);
    HintLabel.hide();
    InfoMemo.setGeometry(8, 56, 353, 156);
    InfoMemo.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    InfoMemo.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    InfoMemo.setTabChangesFocus(true);
    LogMemo.setGeometry(8, 218, 353, 95);
    LogMemo.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    LogMemo.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    LogMemo.setTabChangesFocus(true);

    // Program view.
    ProgramGroupBox.setTitle(QStringLiteral(" Programm "));
    ProgramGroupBox.setGeometry(8, 498, 703, ProgramGroupBoxHeight);
    ProgramGrid.setGeometry(8, 24, 685, 233);
    SetProgressBar(ShowProgramProgressBar);
    ShowProgramProgressBar.setGeometry(8, 263, 685, 17);
    ComTerminal1.SetEmulation(teVT100orANSI);
    ComTerminal1.SetScrollBars(ssBoth);
    // The size last: the control sizes itself to its cells whenever they change.
    ComTerminal1.setGeometry(562, 200, 121, 57);
    ComTerminal1.hide();
    ComTerminal1.setEnabled(false);

    // Non-visual parts. The dialog is Qt's own so that it looks and behaves the same
    // on every platform (and can be answered in tests).
    OpenDialog.setOption(QFileDialog::DontUseNativeDialog);
    // The filter shows its description alone, without the pattern behind it.
    OpenDialog.setOption(QFileDialog::HideNameFilterDetails);
    OpenDialog.setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog.setFileMode(QFileDialog::ExistingFile);
    OpenDialog.setNameFilter(QStringLiteral("Intel-HEX Programmdatei (*.hex)"));
    OpenDialog.setDefaultSuffix(QStringLiteral("hex"));
    HintFlashTimer.setInterval(500);
    HintFlashTimer.stop();
    StartupTimer.setInterval(10);
    StartupTimer.stop();
}

void TMainWindow::SetUpTabOrder() {
    const std::initializer_list<QWidget*> order = {&PasswordEdit,      &BaudComboBox,
                                                   &ComComboBox,       &SelectInBtn,
                                                   &FilenameInEdit,    &StartBtn,
                                                   &ProgramChkBox,     &VerifyChkBox,
                                                   &ShowProgramChkBox, &ShowCompleteMemoryChkBox,
                                                   &CancelButton,      &NoPowerCycleChkBox,
                                                   &TransferComboBox,  &InfoMemo,
                                                   &LogMemo,           &ProgramGrid};
    QWidget* previous = nullptr;
    for (QWidget* widget : order) {
        if (previous != nullptr) {
            QWidget::setTabOrder(previous, widget);
        }
        previous = widget;
    }
}

void TMainWindow::ConnectHandlers() {
    TWindowBehaviour& behaviour = Behaviour;
    connect(&HintFlashTimer, &QTimer::timeout, this,
            [&behaviour] { behaviour.HintFlashTimerTimer(); });
    // toggled, not clicked: the user's changes by keyboard count too. The behaviour's own
    // changes come with signals blocked (see SetChecked).
    connect(&ProgramChkBox, &QCheckBox::toggled, this,
            [&behaviour] { behaviour.ProgramChkBoxClick(); });
    connect(&VerifyChkBox, &QCheckBox::toggled, this,
            [&behaviour] { behaviour.VerifyChkBoxClick(); });
    connect(&ShowProgramChkBox, &QCheckBox::toggled, this,
            [&behaviour] { behaviour.ShowProgramChkBoxClick(); });
    connect(&ShowCompleteMemoryChkBox, &QCheckBox::toggled, this,
            [&behaviour] { behaviour.ShowCompleteMemoryChkBoxClick(); });
    connect(&NoPowerCycleChkBox, &QCheckBox::toggled, this,
            [&behaviour] { behaviour.NoPowerCycleChkBoxClick(); });
    // activated: only the user's choices, not the behaviour's own selection.
    connect(&TransferComboBox, &QComboBox::activated, this,
            [&behaviour] { behaviour.TransferComboBoxChange(); });
    connect(&FilenameInEdit, &QLineEdit::textChanged, this,
            [&behaviour] { behaviour.FilenameInEditChange(); });
    connect(&SelectInBtn, &QPushButton::clicked, this,
            [&behaviour] { behaviour.SelectInBtnClick(); });
    connect(&StartBtn, &QPushButton::clicked, this, [&behaviour] { behaviour.StartBtnClick(); });
    connect(&CancelButton, &QPushButton::clicked, this,
            [&behaviour] { behaviour.CancelButtonClick(); });
    connect(&StartupTimer, &QTimer::timeout, this, [&behaviour] { behaviour.StartupTimerTimer(); });
}

void TMainWindow::CentreOnScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->geometry();
    const QSize outer = frameGeometry().size();
    move(area.x() + CentredOffset(area.width(), outer.width()),
         area.y() + CentredOffset(area.height(), outer.height()));
}

void TMainWindow::ReportMessage(const QString& Text, bool ShowBox, bool ToInfo, bool ToLog) {
    Behaviour.ReportMessage(Text.toStdString(), ShowBox, ToInfo, ToLog);
}

void TMainWindow::FlashHint(bool Show, const QString& Text, int IntervalMs) {
    Behaviour.FlashHint(Show, Text.toStdString(), IntervalMs);
}

void TMainWindow::HintFlashTimerTimer(QObject* /*Sender*/) {
    Behaviour.HintFlashTimerTimer();
}

void TMainWindow::FillProgramGrid(bool Complete) {
    Behaviour.FillProgramGrid(Complete);
}

}  // namespace tarnwick
