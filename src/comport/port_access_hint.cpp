#include "comport/port_access_hint.h"

#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "comport/platform/comm_device.h"
#endif

namespace tarnwick {

#ifdef _WIN32

std::string PortAccessHint(const std::string&, std::uint32_t) {
    return {};
}

#else

std::string PortAccessHint(const std::string& Port, std::uint32_t OsError) {
    if (OsError != EACCES)
        return {};
    const std::string path = platform::DevicePath(Port);
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return {};
    const group* owner = getgrgid(info.st_gid);
    const std::string group = owner != nullptr ? owner->gr_name : std::to_string(info.st_gid);
    const passwd* user = getpwuid(geteuid());
    const std::string userName = user != nullptr ? user->pw_name : "BENUTZER";
    return "Keine Berechtigung für " + path + " (Gruppe „" + group + "“): Benutzer zur Gruppe „" +
           group + "“ hinzufügen und neu anmelden, z. B. mit " + "„sudo usermod -aG " + group +
           " " + userName + "“.";
}

#endif

}  // namespace tarnwick
