// Writing an INI file whole on POSIX: a temporary file beside it, synced and renamed
// over it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <utility>

#include "comport/ini_file_write.h"

namespace tarnwick {

namespace {

// Closes a descriptor and removes the temporary file unless released.
class TTempFile {
  public:
    explicit TTempFile(std::filesystem::path Path) : FPath(std::move(Path)) {}
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    ~TTempFile() {
        if (Fd >= 0) {
            ::close(Fd);
        }
        if (!FReleased) {
            ::unlink(FPath.c_str());
        }
    }
    const std::filesystem::path& Path() const { return FPath; }
    void Release() { FReleased = true; }
    int Fd = -1;

  private:
    std::filesystem::path FPath;
    bool FReleased = false;
};

}  // namespace

void WriteWholeFile(const std::filesystem::path& Target, const std::string& Content) {
    const std::filesystem::path folder =
        Target.has_parent_path() ? Target.parent_path() : std::filesystem::path(".");
    // A name no other writer uses; O_EXCL guards against a leftover of the same name.
    static std::atomic<unsigned> counter{0};
    std::filesystem::path tempPath;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        // Appended piece by piece: GCC 12 reports a false -Wrestrict for the
        // chained operator+ at -O2.
        std::string name = ".";
        name += Target.filename().string();
        name += ".tmp";
        name += std::to_string(::getpid());
        name += '-';
        name += std::to_string(++counter);
        tempPath = folder / name;
        fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        ThrowWriteError(Target, "cannot create temporary file " + Quoted(tempPath.string()), errno);
    }
    TTempFile temp(tempPath);
    temp.Fd = fd;

    // Keep the permissions of the file being replaced.
    struct stat targetStat {};
    if (::stat(Target.c_str(), &targetStat) == 0) {
        ::fchmod(fd, targetStat.st_mode & 07777);
    }

    std::size_t done = 0;
    while (done < Content.size()) {
        const ssize_t n = ::write(fd, Content.data() + done, Content.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowWriteError(Target, "cannot write temporary file", errno);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        ThrowWriteError(Target, "cannot write temporary file", errno);
    }
    const int closeResult = ::close(fd);
    temp.Fd = -1;
    if (closeResult != 0) {
        ThrowWriteError(Target, "cannot write temporary file", errno);
    }
    if (::rename(temp.Path().c_str(), Target.c_str()) != 0) {
        ThrowWriteError(Target, "cannot replace it", errno);
    }
    temp.Release();
    // Make the rename itself durable; a failure here loses nothing already written.
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
}

}  // namespace tarnwick
