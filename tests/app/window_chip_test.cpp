// "Update starten!" in a shown window, into the emulated ATmega328P running the project's
// bootloader: set to line speed and without the power cycle (PowerCycle=0 and BytePacing=0
// in Settings.ini), the window flashes the blink sample, which then runs; with the default
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

TEST(WindowChipUpdate, FlashesTheEmulatedChipAndTheProgramRuns) {
    test::TTestWindow window;
    ASSERT_TRUE(window.ShowStarted());
    test::TTempDir dir;
    test::TEmulatedChip chip("atmega328p", dir);
    window.Bootloader.BytePacing = 0;
    window.Bootloader.PowerCycle = false;
    window.ComComboBox.setEditText(QString::fromStdString(chip.PortPath()));
    const std::string image = test::SampleHex("blink-atmega328p");
    window.FilenameInEdit.setText(QString::fromStdString(image));
    ASSERT_TRUE(window.StartBtn.isEnabled());

    test::TModalAnswerer answerer;
    answerer.YesNoAnswers = {true};
    window.StartBtn.click();  // returns when the run is over

    // Only the warning: no notice to switch the chip off.
    EXPECT_EQ(answerer.Boxes().size(), 1u);
    const QStringList log = window.LogMemo.toPlainText().split(QLatin1Char('\n'));
    ASSERT_FALSE(log.isEmpty());
    EXPECT_EQ(log.last(), QStringLiteral("Gespeichertes Programm korrekt übertragen"))
        << window.LogMemo.toPlainText().toStdString();
    EXPECT_TRUE(window.InfoMemo.toPlainText().contains(QStringLiteral("Baustein: ATmega328P")));
    EXPECT_TRUE(chip.SeenBlinking(std::chrono::seconds(10)));
    chip.Stop();
    EXPECT_EQ(chip.Flash(), test::ExpectedFlash(dir, image, "atmega328p", 32768));
}

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
