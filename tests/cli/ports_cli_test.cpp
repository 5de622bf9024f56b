// Runs the real tarnwick-cli ports over sysfs-shaped trees and over this machine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comport/port_list.h"
#include "child_process.h"
#include "sysfs_tree.h"
#include "temp_dir.h"

namespace tarnwick {
namespace {

const std::string Cli = TARNWICK_CLI_PATH;

test::TProcessResult RunPorts(const test::TSysfsTree& Tree, std::vector<std::string> Args = {}) {
    std::vector<std::string> argv = {"env", "TARNWICK_SYSFS_ROOT=" + Tree.Sys().string(),
                                     "TARNWICK_DEV_ROOT=" + Tree.Dev().string(), Cli, "ports"};
    argv.insert(argv.end(), Args.begin(), Args.end());
    return test::RunProcess(argv);
}

TEST(PortsCliTest, PrintsOneEntryPerLineInListOrder) {
    test::TTempDir temp;
    test::TSysfsTree tree(temp.Path());
    tree.Tty(tree.Device("pci0000:00/usb1/1-1/1-1:1.0", "usb", "cdc_acm"), "ttyACM0");
    tree.Device("platform/serial8250", "platform", "serial8250");
    tree.Attribute(
        tree.Tty(tree.Device("platform/serial8250/serial8250:0.0", "serial-base"), "ttyS0"), "type",
        "4");
    const auto result = RunPorts(tree);
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Out, (tree.Dev() / "ttyACM0").string() + ": cdc_acm @ usb\n" +
                              (tree.Dev() / "ttyS0").string() + ": serial8250 @ platform\n");
    EXPECT_EQ(result.Err, "");
}

TEST(PortsCliTest, NoPortIsSaidOnStandardErrorAndStillSucceeds) {
    test::TTempDir temp;
    test::TSysfsTree tree(temp.Path());
    tree.Tty(tree.Device("virtual/tty", "virtual"), "tty1", false);
    const auto result = RunPorts(tree);
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Out, "");
    EXPECT_EQ(result.Err, "Keine seriellen Ports gefunden\n");
}

TEST(PortsCliTest, AnOperandIsAUsageError) {
    test::TTempDir temp;
    const auto result = RunPorts(test::TSysfsTree(temp.Path()), {"/dev/ttyS0"});
    EXPECT_EQ(result.ExitCode, 2);
    EXPECT_NE(result.Err.find("keine Argumente erwartet"), std::string::npos) << result.Err;
}

TEST(PortsCliTest, ListsThisMachinesPortsAsTheWindowWould) {
    const auto result = test::RunProcess({Cli, "ports"});
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    std::string expected;
    for (const std::string& entry : ListSerialPorts()) {
        expected += entry + "\n";
    }
    EXPECT_EQ(result.Out, expected);
}

}  // namespace
}  // namespace tarnwick
