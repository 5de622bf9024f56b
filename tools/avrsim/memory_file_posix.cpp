#include "memory_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace avrsim {

namespace {

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t n = pwrite(fd, data, size, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

}  // namespace

TMemoryFile::TMemoryFile(std::string APath) : Path(std::move(APath)) {}

TMemoryFile::~TMemoryFile() {
    if (Fd >= 0)
        close(Fd);
}

bool TMemoryFile::Load(std::uint8_t* memory, std::size_t memorySize, std::string& error) const {
    const int fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT)
            error = Path + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < memorySize) {
        const ssize_t n = read(fd, memory + done, memorySize - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = Path + ": " + std::strerror(errno);
            close(fd);
            return false;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    close(fd);
    return true;
}

bool TMemoryFile::SaveAll(const std::uint8_t* memory, std::size_t memorySize, std::string& error) {
    const std::string temp = Path + ".tmp";
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || !WriteAll(fd, memory, memorySize, 0)) {
        error = temp + ": " + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return false;
    }
    close(fd);
    if (rename(temp.c_str(), Path.c_str()) != 0) {
        error = Path + ": " + std::strerror(errno);
        return false;
    }
    if (Fd >= 0)
        close(Fd);
    Fd = open(Path.c_str(), O_WRONLY | O_CLOEXEC);
    if (Fd < 0) {
        error = Path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool TMemoryFile::SaveRange(const std::uint8_t* data, std::size_t offset, std::size_t size,
                            std::string& error) {
    if (Fd < 0) {
        error = Path + ": nicht geöffnet";
        return false;
    }
    if (!WriteAll(Fd, data, size, static_cast<off_t>(offset))) {
        error = Path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace avrsim
