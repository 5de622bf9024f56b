// The permission hint on POSIX: name the group that may open the device, or say that only
// the superuser may.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "comport/platform/comm_device.h"
#include "comport/port_access_hint.h"

namespace tarnwick {

namespace {

// A console of the system: a virtual console, /dev/console, or the tty the kernel
// writes its console to (console=ttyS0 for a serial console).
bool IsConsole(const std::string& Path, const struct stat& Info) {
    if (!S_ISCHR(Info.st_mode))
        return false;
    const unsigned major = major(Info.st_rdev);
    const unsigned minor = minor(Info.st_rdev);
    if ((major == 4 && minor < 64) || (major == 5 && minor == 1))
        return true;
    std::error_code ec;
    const std::string name = std::filesystem::canonical(Path, ec).filename().string();
    std::ifstream active("/sys/class/tty/console/active");
    for (std::string console; active >> console;) {
        if (!ec && console == name)
            return true;
    }
    return false;
}

}  // namespace

std::string PortAccessHint(const std::string& Port, std::uint32_t OsError) {
    if (OsError != EACCES)
        return {};
    const std::string path = platform::DevicePath(Port);
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return {};
    // Joining a group only helps when that group may read and write the device, and
    // joining root would hand the user root's files: no advice to do that.
    const bool groupMayOpen = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (groupMayOpen && info.st_gid != 0) {
        const group* owner = getgrgid(info.st_gid);
        const std::string group = owner != nullptr ? owner->gr_name : std::to_string(info.st_gid);
        const passwd* user = getpwuid(geteuid());
        const std::string userName = user != nullptr ? user->pw_name : "BENUTZER";
        return "Keine Berechtigung für " + path + " (Gruppe „" + group +
               "“): Benutzer zur Gruppe „" + group + "“ hinzufügen und neu anmelden, z. B. mit " +
               "„sudo usermod -aG " + group + " " + userName + "“.";
    }
    std::string hint =
        "Keine Berechtigung für " + path + ": Nur der Superuser (root) darf diesen Port öffnen.";
    if (IsConsole(path, info))
        hint +=
            " Das System benutzt ihn als Konsole; wahrscheinlich ist er nicht der Port des "
            "Geräts.";
    return hint;
}

}  // namespace tarnwick
