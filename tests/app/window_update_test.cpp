// "Update starten!" in a shown window against the simulated device on a pseudo-terminal:
// the boxes are answered by the test, the device's flash and trace are read afterwards.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "devsim_process.h"
#include "hex_file.h"
#include "main_window.h"
#include "modal_answerer.h"
#include "test_window.h"

namespace tarnwick {
namespace {

using test::TDevsim;
using test::TModalAnswerer;
using test::TraceBytes;

constexpr int ImageLength = 40;

QStringList Lines(const QPlainTextEdit& Memo) {
    const QString text = Memo.toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

bool EndsWith(const std::vector<std::uint8_t>& Bytes, const std::vector<std::uint8_t>& Tail) {
    return Bytes.size() >= Tail.size() &&
           std::equal(Tail.begin(), Tail.end(), Bytes.end() - static_cast<long>(Tail.size()));
}

// What the window looked like at some moment of the run.
struct TSample {
    bool Running = false;
    QString StartCaption;
    bool StartEnabled = true;
    bool AnyInputEnabled = true;
    bool OnTop = false;
    bool Visible = false;
    QPoint Position;
    bool BusyBar = false;  // a bar showing Qt's busy animation (maximum == minimum)
    bool Hourglass = false;
};

class WindowUpdate : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Window.ShowStarted());
        Device = std::make_unique<TDevsim>(DeviceArgs(), Dir.Path().string());
        Window.ComComboBox.setEditText(QString::fromStdString(Device->PortPath()));
        Window.PasswordEdit.setText(QStringLiteral("Käse"));
        HexPath = QString::fromStdString(Dir.Write("firmware.hex", test::HexImage(ImageLength, 3)));
        Window.FilenameInEdit.setText(HexPath);
        ASSERT_TRUE(Window.StartBtn.isEnabled());
        Probe.setInterval(20);
        QObject::connect(&Probe, &QTimer::timeout, [this] { Sample(); });
    }

    // The device knows its password as the bytes the Windows tool sends for "Käse".
    static std::vector<std::string> DeviceArgs() { return {"--password", "K\xE4se"}; }

    void Sample() {
        TSample s;
        s.Running = Window.UpdateRunning();
        s.StartCaption = Window.StartBtn.text();
        s.StartEnabled = Window.StartBtn.isEnabled();
        s.AnyInputEnabled = Window.PasswordEdit.isEnabled() || Window.FilenameInEdit.isEnabled() ||
                            Window.ComComboBox.isEnabled() || Window.BaudComboBox.isEnabled() ||
                            Window.ProgramChkBox.isEnabled() ||
                            Window.ShowCompleteMemoryChkBox.isEnabled();
        s.OnTop = Window.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint);
        s.Visible = Window.isVisible();
        s.Position = Window.pos();
        s.Hourglass = QApplication::overrideCursor() != nullptr &&
                      QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        ConnectMaximum = std::max(ConnectMaximum, Window.ConnectProgressBar.maximum());
        for (const QProgressBar* bar : {&Window.ConnectProgressBar, &Window.ProgramProgressBar,
                                        &Window.VerifyProgressBar, &Window.BufferProgressBar}) {
            s.BusyBar = s.BusyBar || bar->maximum() == bar->minimum();
        }
        Samples.push_back(s);
        if (OnSample) {
            OnSample();
        }
    }

    void RunUpdate() {
        Probe.start();
        Window.StartBtn.click();  // returns when the run is over
        Probe.stop();
    }

    test::TTempDir Dir;
    test::TTestWindow Window;
    std::unique_ptr<TDevsim> Device;
    QString HexPath;
    QTimer Probe;
    std::vector<TSample> Samples;
    int ConnectMaximum = 0;
    std::function<void()> OnSample;
};

TEST_F(WindowUpdate, ProgramsAndVerifiesTheDeviceThenGivesTheWindowBack) {
    TModalAnswerer answerer;
    answerer.YesNoAnswers = {true};
    const QPoint before = Window.pos();
    // The hidden terminal is what makes the port read: it sees every reply byte.
    int repliesSeenByTerminal = 0;
    Window.ComTerminal1.OnChar = [&](TComTerminalCore&, std::uint8_t) { ++repliesSeenByTerminal; };
    bool closeRefused = false;
    OnSample = [&] {
        if (Window.UpdateRunning() && Window.ProgramProgressBar.value() > 5 && !closeRefused) {
            closeRefused = !Window.close() && Window.isVisible();
        }
    };
    RunUpdate();

    // The device holds the image.
    const auto flash = Device->Flash();
    const auto trace = TraceBytes(Device->Stop());
    ASSERT_GE(flash.size(), static_cast<std::size_t>(ImageLength));
    for (int i = 0; i < ImageLength; ++i) {
        EXPECT_EQ(flash[static_cast<std::size_t>(i)], static_cast<std::uint8_t>(i + 3)) << i;
    }
    EXPECT_TRUE(EndsWith(trace, {0xA5, 0x80, 0xA5, 0xA5, 0xA5, 0x05}));
    EXPECT_EQ(Window.ComTerminal1.ComPort(), &Window.ComPort);
    EXPECT_EQ(Window.ComTerminal1.Emulation(), teVT100orANSI);
    EXPECT_GT(repliesSeenByTerminal, 10);

    // The two boxes, as the window shows them.
    ASSERT_EQ(answerer.Boxes().size(), 2u);
    const test::TAnsweredBox& question = answerer.Boxes()[0];
    EXPECT_EQ(question.Title, QStringLiteral("Tarnwick"));
    EXPECT_TRUE(question.Text.startsWith(QStringLiteral("Warnung: Die Aktualisierung")));
    EXPECT_TRUE(question.Text.endsWith(QStringLiteral("\n\nUpdate wirklich durchführen?")));
    EXPECT_EQ(question.Icon, QMessageBox::Question);
    QStringList buttons = question.ButtonTexts;
    buttons.sort();
    EXPECT_EQ(buttons, QStringList({QStringLiteral("Ja"), QStringLiteral("Nein")}));
    EXPECT_EQ(question.DefaultButtonText, QStringLiteral("Ja"));
    EXPECT_EQ(question.FontPixelSize, 11);
    EXPECT_FALSE(question.ButtonIcons);
    const test::TAnsweredBox& notice = answerer.Boxes()[1];
    EXPECT_EQ(notice.Title, QStringLiteral("Tarnwick"));
    EXPECT_TRUE(notice.Text.startsWith(QStringLiteral("Schalten Sie nun das Gerät aus")));
    EXPECT_EQ(notice.Buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    const QString length = QString::number(ImageLength - 1);
    EXPECT_EQ(Lines(Window.LogMemo),
              QStringList({QStringLiteral("Programmdatei \"%1\" geladen").arg(HexPath),
                           QStringLiteral("Programmiere %1 von 8192 Bytes Flash").arg(length),
                           QStringLiteral("Programmieren erfolgreich beendet"),
                           QStringLiteral("Überprüfe %1 von 8192 Bytes Flash").arg(length),
                           QStringLiteral("Gespeichertes Programm korrekt übertragen")}));
    const QStringList info = Lines(Window.InfoMemo);
    ASSERT_EQ(info.size(), 11);
    EXPECT_EQ(info.mid(0, 8),
              QStringList({"Verbunden: 2-Draht-Modus", "CRC-Check: aktiviert",
                           "Bootloader-Version: 2.1", "Baustein: ATmega8", "Buffergröße: 64 Byte",
                           "Flash: 8192 Byte", "CRC-Prüfsumme OK",
                           QStringLiteral("Programmiere %1 von 8192 Bytes Flash").arg(length)}));
    EXPECT_EQ(info[8], QStringLiteral("Überprüfe %1 von 8192 Bytes Flash").arg(length));
    EXPECT_EQ(info[9], QStringLiteral("CRC-Prüfsumme OK"));
    EXPECT_TRUE(info[10].startsWith(QStringLiteral("Gesamtdauer: 00:00:")))
        << info[10].toStdString();

    // During the run: locked, on top, in place, never a busy bar, no closing.
    int running = 0;
    int hourglass = 0;
    for (const TSample& s : Samples) {
        if (!s.Running) {
            continue;
        }
        ++running;
        EXPECT_EQ(s.StartCaption, QStringLiteral("Bitte warten!"));
        EXPECT_FALSE(s.StartEnabled);
        EXPECT_FALSE(s.AnyInputEnabled);
        EXPECT_TRUE(s.OnTop);
        EXPECT_TRUE(s.Visible);
        EXPECT_EQ(s.Position, before);
        EXPECT_FALSE(s.BusyBar);
        hourglass += s.Hourglass ? 1 : 0;
    }
    EXPECT_GT(hourglass, running / 2);
    EXPECT_GT(running, 100);
    EXPECT_TRUE(closeRefused);
    // 200 rounds for each of the four characters and the end byte: characters, not bytes.
    EXPECT_EQ(ConnectMaximum, 1000);

    // Afterwards: everything back.
    EXPECT_FALSE(Window.UpdateRunning());
    EXPECT_EQ(Window.StartBtn.text(), QStringLiteral("Update starten"));
    EXPECT_TRUE(Window.StartBtn.isEnabled());
    EXPECT_FALSE(Window.CancelButton.isEnabled());
    for (const QWidget* input :
         {static_cast<QWidget*>(&Window.SelectInBtn), static_cast<QWidget*>(&Window.PasswordEdit),
          static_cast<QWidget*>(&Window.ComComboBox),
          static_cast<QWidget*>(&Window.ShowCompleteMemoryChkBox)}) {
        EXPECT_TRUE(input->isEnabled()) << input->objectName().toStdString();
    }
    for (const QProgressBar* bar : {&Window.ConnectProgressBar, &Window.ProgramProgressBar,
                                    &Window.VerifyProgressBar, &Window.BufferProgressBar}) {
        EXPECT_EQ(bar->value(), 0) << bar->objectName().toStdString();
        EXPECT_GT(bar->maximum(), 0) << bar->objectName().toStdString();
    }
    EXPECT_FALSE(Window.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(Window.HintLabel.isHidden());
    EXPECT_FALSE(Window.ComPort.Connected());
    EXPECT_EQ(Window.pos(), before);
    // The line the bootloader needs: 8N1 without any handshake, DTR and RTS inactive.
    const TComPort& port = Window.ComPort;
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_EQ(port.Parity().Bits(), prNone);
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
    EXPECT_EQ(port.FlowControl().ControlDTR(), dtrDisable);
    EXPECT_EQ(port.FlowControl().ControlRTS(), rtsDisable);
}

TEST_F(WindowUpdate, CancelDuringProgrammingEndsTheRunWithItsClosingCommands) {
    TModalAnswerer answerer;
    answerer.YesNoAnswers = {true};
    OnSample = [&] {
        if (Window.CancelButton.isEnabled() && Window.ProgramProgressBar.value() >= 3) {
            QTest::mouseClick(&Window.CancelButton, Qt::LeftButton);
        }
    };
    RunUpdate();
    const auto trace = TraceBytes(Device->Stop());

    EXPECT_TRUE(EndsWith(trace, {0xA5, 0x80, 0xA5, 0xA5}));
    EXPECT_FALSE(EndsWith(trace, {0xA5, 0x05}));
    const std::vector<QString> texts = answerer.Texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[2], QStringLiteral("Abbruch durch Benutzer"));
    EXPECT_EQ(answerer.Boxes()[2].Title, QStringLiteral("Tarnwick - Hinweis"));
    const QStringList log = Lines(Window.LogMemo);
    EXPECT_EQ(log.back(), QStringLiteral("Abbruch durch Benutzer"));
    EXPECT_FALSE(log.contains(QStringLiteral("Programmieren erfolgreich beendet")));
    EXPECT_FALSE(Window.UpdateRunning());
    EXPECT_TRUE(Window.StartBtn.isEnabled());
}

TEST_F(WindowUpdate, NoToTheWarningLeavesThePortAlone) {
    TModalAnswerer answerer;
    answerer.YesNoAnswers = {false};
    RunUpdate();
    EXPECT_TRUE(Device->Stop().empty());
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    EXPECT_EQ(answerer.Boxes()[0].Icon, QMessageBox::Question);
    EXPECT_EQ(Lines(Window.InfoMemo), QStringList({QStringLiteral("Gesamtdauer: 00:00:00")}));
    EXPECT_EQ(Window.StartBtn.text(), QStringLiteral("Update starten"));
    EXPECT_TRUE(Window.BaudComboBox.isEnabled());
    // With the run over, the window closes again.
    EXPECT_TRUE(Window.close());
}

TEST(WindowOwner, BarsShowEmptyPassesAndPositionsPastTheEndAsFull) {
    test::TTestWindow window;
    const struct {
        const char* Name;
        int Max, Position, Percent;
    } cases[] = {
        {"half", 200, 100, 50},
        {"a pass of one byte (maximum 0)", 0, 0, 100},
        {"connect bar past its maximum", 1000, 1005, 100},
        {"below zero", 10, -1, 0},
    };
    for (const auto& c : cases) {
        window.Behaviour.SetProgressMax(pbProgram, c.Max);
        window.Behaviour.SetProgressPosition(pbProgram, c.Position);
        const QProgressBar& bar = window.ProgramProgressBar;
        ASSERT_GT(bar.maximum(), bar.minimum()) << c.Name << ": never the busy animation";
        EXPECT_EQ(100 * (bar.value() - bar.minimum()) / (bar.maximum() - bar.minimum()), c.Percent)
            << c.Name;
    }
}

TEST_F(WindowUpdate, APasswordTheDeviceCannotReceiveIsRefusedBeforeAnything) {
    TModalAnswerer answerer;
    answerer.YesNoAnswers = {true};
    Window.PasswordEdit.setText(QStringLiteral("Łódź"));
    RunUpdate();
    EXPECT_TRUE(Device->Stop().empty());
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    EXPECT_TRUE(answerer.Boxes()[0].Text.startsWith(
        QStringLiteral("Das Bootloader-Passwort enthält Zeichen")));
    EXPECT_TRUE(Window.InfoMemo.toPlainText().isEmpty());
    EXPECT_TRUE(Window.PasswordEdit.isEnabled());
}

TEST_F(WindowUpdate, NeitherBoxTickedIsSaidBeforeThePasswordIsLookedAt) {
    TModalAnswerer answerer;
    Window.PasswordEdit.setText(QStringLiteral("Łódź"));
    Window.ProgramChkBox.setChecked(false);
    Window.VerifyChkBox.setChecked(false);
    RunUpdate();
    EXPECT_TRUE(Device->Stop().empty());
    EXPECT_EQ(answerer.Texts(),
              std::vector<QString>{QStringLiteral(
                  "Der Baustein musst mindestens programmiert oder überprüft werden.")});
}

// On a single wire the device returns every byte the host sends, so the hidden terminal
// reads the image as it goes out: the queries in it must go unanswered during the update.
TEST(WindowUpdateOneWire, AnImageHoldingTerminalQueriesIsFlashedIntact) {
    test::TTempDir dir;
    test::TTestWindow window;
    ASSERT_TRUE(window.ShowStarted());
    TDevsim device({"--echo"}, dir.Path().string());
    window.ComComboBox.setEditText(QString::fromStdString(device.PortPath()));
    window.PasswordEdit.setText(QStringLiteral("Kiwu"));
    const std::vector<std::uint8_t> image = {0x0C, 0x1B, '[',  'c', 0x94, 0x1B, '[', '6',
                                             'n',  0x11, 0x1B, '[', '5',  'n',  0x24};
    window.FilenameInEdit.setText(QString::fromStdString(
        dir.Write("queries.hex", test::HexLine(0, 0, image) + test::HexEnd)));
    ASSERT_TRUE(window.StartBtn.isEnabled());
    TModalAnswerer answerer;
    answerer.YesNoAnswers = {true};
    window.StartBtn.click();  // returns when the run is over

    const auto flash = device.Flash();
    const auto trace = TraceBytes(device.Stop());
    ASSERT_GE(flash.size(), image.size());
    EXPECT_EQ(
        std::vector<std::uint8_t>(flash.begin(), flash.begin() + static_cast<long>(image.size())),
        image);
    EXPECT_TRUE(EndsWith(trace, {0xA5, 0x80, 0xA5, 0xA5, 0xA5, 0x05}));
    EXPECT_EQ(Lines(window.InfoMemo).value(0), QStringLiteral("Verbunden: 1-Draht-Modus"));
    EXPECT_TRUE(
        Lines(window.LogMemo).contains(QStringLiteral("Gespeichertes Programm korrekt übertragen")))
        << window.LogMemo.toPlainText().toStdString();
}

}  // namespace
}  // namespace tarnwick
