#include "sysfs_tree.h"

#include <fstream>
#include <stdexcept>

namespace tarnwick::test {

namespace fs = std::filesystem;

namespace {

// Relative links, as sysfs has them, so the tree may move.
void Link(const fs::path& At, const fs::path& Target) {
    fs::create_directories(Target);
    fs::create_directory_symlink(fs::relative(Target, At.parent_path()), At);
}

void WriteFile(const fs::path& File, const std::string& Value) {
    fs::create_directories(File.parent_path());
    std::ofstream out(File, std::ios::trunc);
    out << Value;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + File.string());
    }
}

}  // namespace

TSysfsTree::TSysfsTree(const fs::path& Root) : SysRoot(Root / "sys"), DevRoot(Root / "dev") {
    fs::create_directories(SysRoot / "class" / "tty");
    fs::create_directories(DevRoot);
}

fs::path TSysfsTree::Device(const std::string& Path, const std::string& Subsystem,
                            const std::string& Driver) const {
    const fs::path dir = SysRoot / "devices" / Path;
    fs::create_directories(dir);
    Link(dir / "subsystem", SysRoot / "bus" / Subsystem);
    if (!Driver.empty()) {
        Link(dir / "driver", SysRoot / "bus" / Subsystem / "drivers" / Driver);
    }
    return dir;
}

void TSysfsTree::Attribute(const fs::path& Dir, const std::string& Name,
                           const std::string& Value) const {
    WriteFile(Dir / Name, Value + "\n");
}

fs::path TSysfsTree::Tty(const fs::path& Parent, const std::string& Name, bool DeviceLink,
                         bool Node) const {
    const fs::path dir = Parent / "tty" / Name;
    fs::create_directories(dir);
    Link(dir / "subsystem", SysRoot / "class" / "tty");
    if (DeviceLink) {
        Link(dir / "device", Parent);
    }
    Link(SysRoot / "class" / "tty" / Name, dir);
    Attribute(dir, "dev", "4:64");
    if (Node) {
        WriteFile(DevRoot / Name, "");
    }
    return dir;
}

}  // namespace tarnwick::test
