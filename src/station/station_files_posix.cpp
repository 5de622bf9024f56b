// The station's system calls on POSIX: flock, O_APPEND with fsync, OpenSSL's SHA-256.
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "station/station_files.h"

namespace tarnwick {

namespace {

[[noreturn]] void Fail(const std::string& What, const std::filesystem::path& File) {
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on chained operator+.
    std::string text = What;
    text += ' ';
    text += QuotedName(File);
    text += ": ";
    text += std::strerror(errno);
    throw EStation(text);
}

// flock, repeated when a signal interrupts the wait.
void LockWhole(int Fd, const std::filesystem::path& File) {
    while (::flock(Fd, LOCK_EX) != 0) {
        if (errno != EINTR)
            Fail("Sperren nicht möglich:", File);
    }
}

}  // namespace

TFileLock::TFileLock(const std::filesystem::path& LockFile) {
    const int fd = ::open(LockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        Fail("Sperrdatei nicht zu öffnen:", LockFile);
    try {
        LockWhole(fd, LockFile);
    } catch (...) {
        ::close(fd);
        throw;
    }
    Handle = fd;
}

TFileLock::~TFileLock() {
    // Closing the descriptor releases the lock.
    ::close(static_cast<int>(Handle));
}

void AppendLineDurably(const std::filesystem::path& File, const std::string& Line) {
    const int fd = ::open(File.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        Fail("Protokoll nicht zu öffnen:", File);
    struct TCloser {
        int Fd;
        ~TCloser() { ::close(Fd); }
    } closer{fd};
    // Two stations may share one log: each line goes in whole, after the other's.
    LockWhole(fd, File);
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        Fail("Protokoll nicht lesbar:", File);
    std::string text;
    char last = '\n';
    if (status.st_size > 0 && ::pread(fd, &last, 1, status.st_size - 1) != 1)
        Fail("Protokoll nicht lesbar:", File);
    if (last != '\n')
        text += '\n';
    text += Line;
    text += '\n';
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Fail("Protokoll nicht beschreibbar:", File);
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0)
        Fail("Protokoll nicht auf die Platte zu bringen:", File);
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return "unbekannt";
    return name;
}

std::string LocalTimeText(std::chrono::system_clock::time_point Time) {
    const std::time_t t = std::chrono::system_clock::to_time_t(Time);
    std::tm local{};
    ::localtime_r(&t, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    const long offset = local.tm_gmtoff / 60;
    const int minutes = static_cast<int>(offset < 0 ? -offset : offset) % (24 * 60);
    char zone[32];
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    std::string result = text;
    result += zone;
    return result;
}

std::string Sha256Hex(std::string_view Bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(Bytes.data(), Bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        throw EStation("SHA-256 nicht verfügbar (OpenSSL)");
    static const char Digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += Digits[digest[i] >> 4];
        text += Digits[digest[i] & 15];
    }
    return text;
}

std::string QuotedName(const std::filesystem::path& Path) {
    std::string text = "\"";
    text += Path.string();
    text += '"';
    return text;
}

}  // namespace tarnwick
