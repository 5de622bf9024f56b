// "Update starten!" in a shown window, into the emulated ATmega328P running the project's
// bootloader: set to line speed and without the power cycle (PowerCycle=0 and BytePacing=0
// in Settings.ini), the window flashes the blink sample, which then runs.
#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include "chip_support.h"
#include "main_window.h"
#include "modal_answerer.h"
#include "test_window.h"

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

}  // namespace
}  // namespace tarnwick
