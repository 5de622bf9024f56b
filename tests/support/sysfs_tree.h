// A directory tree laid out like the parts of sysfs and /dev that the port list
// reads: devices with their subsystem and driver links, ttys under class/tty, and
// device nodes (plain files) under dev/.
#pragma once

#include <filesystem>
#include <string>

namespace tarnwick::test {

class TSysfsTree {
  public:
    // Creates sys/ and dev/ below Root.
    explicit TSysfsTree(const std::filesystem::path& Root);

    const std::filesystem::path& Sys() const { return SysRoot; }
    const std::filesystem::path& Dev() const { return DevRoot; }

    // A device directory at sys/devices/Path on the bus or class Subsystem, bound to
    // Driver when that is not empty.
    std::filesystem::path Device(const std::string& Path, const std::string& Subsystem,
                                 const std::string& Driver = {}) const;
    // Writes an attribute file Name into Dir.
    void Attribute(const std::filesystem::path& Dir, const std::string& Name,
                   const std::string& Value) const;
    // The tty Name at Parent/tty/Name, listed in class/tty; with a "device" link to
    // Parent when DeviceLink (virtual consoles have none); its node in dev/ when Node.
    std::filesystem::path Tty(const std::filesystem::path& Parent, const std::string& Name,
                              bool DeviceLink = true, bool Node = true) const;

  private:
    std::filesystem::path SysRoot;
    std::filesystem::path DevRoot;
};

}  // namespace tarnwick::test
