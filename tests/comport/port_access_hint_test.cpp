// The permission hint for real files of chosen modes and groups: it names a group only
// when that group may read and write the device and is not root.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <ostream>
#include <string>

#include "comport/port_access_hint.h"
#include "temp_dir.h"

namespace tarnwick {
namespace {

const std::string OnlySuperuser = ": Nur der Superuser (root) darf diesen Port öffnen.";

struct THintCase {
    const char* Name;
    mode_t Mode;
    const char* Group;  // nullptr: the user's own group
    bool NamesGroup;
};

void PrintTo(const THintCase& Case, std::ostream* Os) {
    *Os << Case.Name;
}

class PortAccessHintTest : public testing::TestWithParam<THintCase> {};

TEST_P(PortAccessHintTest, NamesAGroupOnlyWhenJoiningItOpensThePort) {
    const THintCase& c = GetParam();
    test::TTempDir dir;
    const std::string path = dir.Write("ttyUSB0", "");
    gid_t gid = getegid();
    std::string group = getgrgid(gid) != nullptr ? getgrgid(gid)->gr_name : std::to_string(gid);
    if (c.Group != nullptr) {
        const struct group* wanted = getgrnam(c.Group);
        if (wanted == nullptr || chown(path.c_str(), static_cast<uid_t>(-1), wanted->gr_gid) != 0)
            GTEST_SKIP() << "cannot give the file to group " << c.Group;
        gid = wanted->gr_gid;
        group = c.Group;
    } else if (gid == 0) {
        GTEST_SKIP() << "the user's own group is root";
    }
    ASSERT_EQ(chmod(path.c_str(), c.Mode), 0);

    const std::string hint = PortAccessHint(path, EACCES);
    if (c.NamesGroup) {
        EXPECT_EQ(hint, "Keine Berechtigung für " + path + " (Gruppe „" + group +
                            "“): Benutzer zur Gruppe „" + group +
                            "“ hinzufügen und neu anmelden, z. B. mit „sudo usermod -aG " + group +
                            " " + getpwuid(geteuid())->pw_name + "“.");
        EXPECT_NE(group, "root");
    } else {
        EXPECT_EQ(hint, "Keine Berechtigung für " + path + OnlySuperuser);
    }
    EXPECT_EQ(hint.find("-aG root"), std::string::npos) << hint;
    EXPECT_EQ(PortAccessHint(path, ENOENT), "");
}

INSTANTIATE_TEST_SUITE_P(
    Modes, PortAccessHintTest,
    testing::Values(THintCase{"OpenToItsGroup", 0660, "dialout", true},
                    THintCase{"OpenToTheUsersGroup", 0060, nullptr, true},
                    THintCase{"OpenToGroupRoot", 0660, "root", false},
                    THintCase{"OwnerOnly", 0600, "dialout", false},
                    THintCase{"GroupMayOnlyRead", 0640, "dialout", false},
                    THintCase{"GroupMayOnlyWriteAsOnAConsole", 0620, "tty", false}),
    [](const testing::TestParamInfo<THintCase>& Info) { return std::string(Info.param.Name); });

TEST(PortAccessHint, TheSystemConsoleIsProbablyNotTheDevicesPort) {
    struct stat info {};
    if (stat("/dev/console", &info) != 0 || !S_ISCHR(info.st_mode) || major(info.st_rdev) != 5 ||
        minor(info.st_rdev) != 1)
        GTEST_SKIP() << "no /dev/console here";
    EXPECT_EQ(PortAccessHint("/dev/console", EACCES),
              "Keine Berechtigung für /dev/console" + OnlySuperuser +
                  " Das System benutzt ihn als Konsole; wahrscheinlich ist er nicht der Port "
                  "des Geräts.");
}

}  // namespace
}  // namespace tarnwick
