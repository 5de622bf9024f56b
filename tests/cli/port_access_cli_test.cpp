// tarnwick-cli update on a port the user may not open: the error is followed by a
// hint naming the device, its group and what to do.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "child_process.h"
#include "comport/port_access_hint.h"
#include "temp_dir.h"

namespace tarnwick {
namespace {

// The test's "device": a file that the user running the CLI may not open. As root,
// which may open anything, the CLI runs as nobody and the file belongs to dialout,
// as a serial device on Debian does. The program and its file are copies in the test's
// own folder, open to everybody: nobody may not be able to enter the checkout's folders
// (a clone in root's home, or in a folder of mode 0700).
struct TLockedPort {
    test::TTempDir Dir;
    std::string Path = Dir.Write("ttyUSB0", "");
    std::string Cli = Dir.File("tarnwick-cli");
    std::string Hex = Dir.File("blink.hex");
    std::vector<std::string> Prefix;
    std::string Group;

    TLockedPort() {
        EXPECT_EQ(chmod(Dir.Path().c_str(), 0755), 0);
        std::filesystem::copy_file(TARNWICK_CLI_PATH, Cli);
        std::filesystem::copy_file(std::string(TARNWICK_SAMPLES_DIR) + "/blink.hex", Hex);
        EXPECT_EQ(chmod(Cli.c_str(), 0755), 0);
        EXPECT_EQ(chmod(Hex.c_str(), 0644), 0);
        if (geteuid() == 0) {
            Prefix = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
            if (const group* dialout = getgrnam("dialout")) {
                EXPECT_EQ(chown(Path.c_str(), 0, dialout->gr_gid), 0);
            }
            EXPECT_EQ(chmod(Path.c_str(), 0660), 0);
        } else {
            // Open to its group (the user's own), closed to its owner: the hint names the group.
            EXPECT_EQ(chmod(Path.c_str(), 0060), 0);
        }
        struct stat info {};
        EXPECT_EQ(stat(Path.c_str(), &info), 0);
        const group* owner = getgrgid(info.st_gid);
        Group = owner != nullptr ? owner->gr_name : std::to_string(info.st_gid);
    }
};

TEST(PortAccessCliTest, UpdateOnAPortWithoutPermissionSaysWhatToDo) {
    const TLockedPort port;
    std::vector<std::string> argv = port.Prefix;
    argv.insert(argv.end(), {port.Cli, "update", "--yes", "--port", port.Path, port.Hex});
    const auto result = test::RunProcess(argv);
    EXPECT_EQ(result.ExitCode, 1) << result.Describe();
    const std::string expected =
        "Fehler: Der Port \"" + port.Path +
        "\" kann nicht geöffnet werden (COM Port Error: Unable to open "
        "com port on " +
        port.Path + ")\nKeine Berechtigung für " + port.Path + " (Gruppe „" + port.Group +
        "“): Benutzer zur Gruppe „" + port.Group +
        "“ hinzufügen und neu anmelden, z. B. mit „sudo usermod -aG " + port.Group + " ";
    EXPECT_NE(result.Out.find(expected), std::string::npos) << result.Describe();
}

// A program that cannot be started makes the test say why instead of failing on empty
// output: started directly, and through a wrapper (as setpriv runs the CLI as nobody).
TEST(PortAccessCliTest, AProgramThatCannotStartSaysWhy) {
    const test::TTempDir dir;
    const std::string cli = dir.File("tarnwick-cli");
    std::filesystem::copy_file(TARNWICK_CLI_PATH, cli);
    ASSERT_EQ(chmod(cli.c_str(), 0644), 0);  // not executable, not even by root
    try {
        test::RunProcess({cli, "--version"});
        ADD_FAILURE() << "started a program that may not be run";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("Permission denied"), std::string::npos)
            << error.what();
    }
    const auto result = test::RunProcess({"env", cli, "--version"});
    EXPECT_NE(result.ExitCode, 0);
    EXPECT_NE(result.Describe().find("Permission denied"), std::string::npos) << result.Describe();
}

TEST(PortAccessCliTest, OnlyAMissingPermissionGetsAHint) {
    const TLockedPort port;
    EXPECT_NE(PortAccessHint(port.Path, EACCES), "");
    EXPECT_EQ(PortAccessHint(port.Path, ENOENT), "");
    EXPECT_EQ(PortAccessHint(port.Path + "-gone", EACCES), "");  // nothing to name
}

}  // namespace
}  // namespace tarnwick
