// "Update starten!" in a shown window, into the emulated chip running the project's
// bootloader: set to line speed and without the power cycle (PowerCycle=0 and BytePacing=0
// in Settings.ini), the window flashes the blink sample, which then runs. On an ATtiny85 on
// one wire the window says so and shows the notice that goes with it. With the default
// settings it takes line speed by itself, since the bootloader carries the mark.
#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <fstream>
#include <sstream>

#include "chip_support.h"
#include "main_window.h"
#include "modal_answerer.h"
#include "test_window.h"
#include "window_speed_run.h"

namespace tarnwick {
namespace {

struct TWindowChipCase {
    const char* Name;
    const char* Mcu;
    const char* Chip;  // the info line's name
    std::size_t FlashBytes;
    const char* Baud;
    bool OneWire;
};

std::ostream& operator<<(std::ostream& os, const TWindowChipCase& c) {
    return os << c.Name;
}

class WindowChipUpdate : public ::testing::TestWithParam<TWindowChipCase> {};

TEST_P(WindowChipUpdate, FlashesTheEmulatedChipAndTheProgramRuns) {
    const TWindowChipCase& c = GetParam();
    test::TTestWindow window;
    ASSERT_TRUE(window.ShowStarted());
    test::TTempDir dir;
    test::TEmulatedChip chip(c.Mcu, dir,
                             c.OneWire ? test::OneWireChipArgs(c.Mcu) : std::vector<std::string>{});
    window.Bootloader.BytePacing = 0;
    window.Bootloader.PowerCycle = false;
    window.ComComboBox.setEditText(QString::fromStdString(chip.PortPath()));
    window.BaudComboBox.setCurrentText(QString::fromLatin1(c.Baud));
    ASSERT_EQ(window.BaudComboBox.currentText(), QString::fromLatin1(c.Baud));
    const std::string image = test::SampleHex(std::string("blink-") + c.Mcu);
    window.FilenameInEdit.setText(QString::fromStdString(image));
    ASSERT_TRUE(window.StartBtn.isEnabled());

    test::TModalAnswerer answerer;
    answerer.YesNoAnswers = {true};
    window.StartBtn.click();  // returns when the run is over

    // The warning, and on one wire its notice; no notice to switch the chip off.
    EXPECT_EQ(answerer.Boxes().size(), c.OneWire ? 2u : 1u);
    const QString log = window.LogMemo.toPlainText();
    EXPECT_TRUE(log.contains(QStringLiteral("Gespeichertes Programm korrekt übertragen")))
        << log.toStdString();
    const QString info = window.InfoMemo.toPlainText();
    EXPECT_TRUE(info.contains(QStringLiteral("Baustein: ") + QString::fromLatin1(c.Chip)));
    EXPECT_TRUE(info.contains(c.OneWire ? QStringLiteral("Verbunden: 1-Draht-Modus")
                                        : QStringLiteral("Verbunden: 2-Draht-Modus")))
        << info.toStdString();
    EXPECT_TRUE(chip.SeenBlinking(std::chrono::seconds(10)));
    chip.Stop();
    EXPECT_EQ(chip.Flash(), test::ExpectedFlash(dir, image, c.Mcu, c.FlashBytes, c.OneWire));
}

const TWindowChipCase WindowChipCases[] = {
    {"Atmega328p", "atmega328p", "ATmega328P", 32768, "115200", false},
    {"Attiny85OneWire", "attiny85", "ATtiny85", 8192, "19200", true},
};

INSTANTIATE_TEST_SUITE_P(Avrsim, WindowChipUpdate, ::testing::ValuesIn(WindowChipCases),
                         [](const auto& param) { return std::string(param.param.Name); });

// The emulated chip as a device of the window's speed test: what reached its line from the
// host comes from its trace ("200.765 < 60", lost bytes included).
class TChipDevice : public test::TSpeedDevice {
  public:
    explicit TChipDevice(const test::TTempDir& Dir)
        : TracePath(Dir.File("trace.txt")),
          Chip("atmega328p", Dir, {"--no-pins", "--trace", TracePath}) {}
    std::string PortPath() const override { return Chip.PortPath(); }
    std::vector<test::TReceivedByte> Stop() override {
        Chip.Stop();
        std::vector<test::TReceivedByte> received;
        std::ifstream in(TracePath);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            double ms = 0;
            std::string direction, byte;
            if (fields >> ms >> direction >> byte && direction == "<")
                received.push_back({ms, static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16))});
        }
        return received;
    }
    std::vector<std::uint8_t> Flash() const override { return Chip.Flash(); }

  private:
    std::string TracePath;
    test::TEmulatedChip Chip;
};

// The window with its default settings (transfer "automatisch") and the project's
// bootloader, which carries the mark: the update goes at line speed and says so.
TEST(WindowChipSpeed, DefaultSettingsTakeLineSpeedForTheProjectsBootloader) {
    test::TTempDir dir;
    const std::string image = test::SampleHex("blink-14k-atmega328p");
    TChipDevice device(dir);
    const test::TSpeedRun run = test::RunWindowUpdate(device, image);
    ASSERT_FALSE(run.Log.isEmpty());
    EXPECT_EQ(run.Log.last(), QStringLiteral("Gespeichertes Programm korrekt übertragen"))
        << run.Log.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(run.Info.contains(QStringLiteral("Übertragung: schnell (Tarnwick-Bootloader)")))
        << run.Info.join(QLatin1Char('\n')).toStdString();
    const std::vector<test::TReceivedByte> stream = test::ProgrammingStream(run.Received);
    ASSERT_GT(stream.size(), 14000u);
    EXPECT_LT(test::PacedGaps(stream), static_cast<int>(stream.size()) / 100);
    EXPECT_EQ(run.Flash, test::ExpectedFlash(dir, image, "atmega328p", 32768));
}

}  // namespace
}  // namespace tarnwick
