// The window's record of an update when Settings.ini names a log: the same JSON line as
// tarnwick-cli update --log, judged by a JSON parser and sha256sum.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "behaviour_rig.h"
#include "child_process.h"
#include "devsim_process.h"
#include "hex_record.h"

namespace tarnwick {
namespace {

TEST(BehaviourRecord, LogFileInSettingsRecordsEveryAttempt) {
    test::TBehaviourRig rig({},
                            "[Updater]\r\nLogFile=updates.jsonl\r\nPowerCycle=0\r\n"
                            "BytePacing=0\r\n");
    rig.Start();
    test::TDevsim device({}, rig.Dir.Path().string());
    const std::string file =
        rig.Dir.Write("firmware.hex", test::DataRecord(0, {0x0C, 0x94, 0x13, 0x00}) + "\r\n" +
                                          test::EofRecord + "\r\n");
    rig.View.Type(TControl::ComComboBox, device.PortPath());
    rig.View.Type(TControl::FilenameInEdit, file);
    // The second run ends at the warning question: no attempt, no record.
    rig.View.YesNoAnswers = {true, false};
    rig.Behaviour.StartBtnClick();
    rig.Behaviour.StartBtnClick();

    std::ifstream log(rig.Dir.File("updates.jsonl"));
    std::vector<nlohmann::json> records;
    for (std::string line; std::getline(log, line);)
        records.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(records.size(), 1u);
    const test::TProcessResult sum = test::RunProcess({"sha256sum", file});
    for (const nlohmann::json& r : records) {
        EXPECT_EQ(r["port"], device.PortPath());
        EXPECT_EQ(r["image"]["file"], file);
        EXPECT_EQ(r["image"]["sha256"], sum.Out.substr(0, 64));
        EXPECT_EQ(r["device"]["chip"], "ATmega8");
        EXPECT_EQ(r["device"]["flash_size"], 8192);
        EXPECT_EQ(r["result"]["status"], "gut") << r["result"]["message"];
        EXPECT_EQ(r["serial"], nullptr);
    }
}

}  // namespace
}  // namespace tarnwick
