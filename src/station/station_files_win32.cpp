// The station's system calls on Windows: LockFileEx, append with FlushFileBuffers, and
// SHA-256 from the system's CNG (bcrypt), so the program needs no DLL of its own.
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "station/station_files.h"

namespace tarnwick {

namespace {

std::string Utf8(const std::wstring& Text) {
    if (Text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), result.data(), size,
                        nullptr, nullptr);
    return result;
}

[[noreturn]] void Fail(const std::string& What, const std::filesystem::path& File) {
    throw EStation(What + " " + QuotedName(File) + " (Windows-Fehler " +
                   std::to_string(GetLastError()) + ")");
}

void LockWhole(HANDLE File, const std::filesystem::path& Name) {
    OVERLAPPED at{};
    if (!LockFileEx(File, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &at))
        Fail("Sperren nicht möglich:", Name);
}

}  // namespace

TFileLock::TFileLock(const std::filesystem::path& LockFile) {
    HANDLE file = CreateFileW(LockFile.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        Fail("Sperrdatei nicht zu öffnen:", LockFile);
    try {
        LockWhole(file, LockFile);
    } catch (...) {
        CloseHandle(file);
        throw;
    }
    Handle = reinterpret_cast<std::intptr_t>(file);
}

TFileLock::~TFileLock() {
    // Closing the handle releases the lock.
    CloseHandle(reinterpret_cast<HANDLE>(Handle));
}

void AppendLineDurably(const std::filesystem::path& File, const std::string& Line) {
    HANDLE file =
        CreateFileW(File.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        Fail("Protokoll nicht zu öffnen:", File);
    struct TCloser {
        HANDLE File;
        ~TCloser() { CloseHandle(File); }
    } closer{file};
    // Two stations may share one log: each line goes in whole, after the other's.
    LockWhole(file, File);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size))
        Fail("Protokoll nicht lesbar:", File);
    std::string text;
    if (size.QuadPart > 0) {
        LARGE_INTEGER at{};
        at.QuadPart = size.QuadPart - 1;
        char last = '\n';
        DWORD read = 0;
        if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
            !ReadFile(file, &last, 1, &read, nullptr) || read != 1)
            Fail("Protokoll nicht lesbar:", File);
        if (last != '\n')
            text += '\n';
    }
    text += Line;
    text += '\n';
    LARGE_INTEGER end{};
    DWORD written = 0;
    if (!SetFilePointerEx(file, end, nullptr, FILE_END) ||
        !WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size())
        Fail("Protokoll nicht beschreibbar:", File);
    if (!FlushFileBuffers(file))
        Fail("Protokoll nicht auf die Platte zu bringen:", File);
}

std::string HostName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size))
        return "unbekannt";
    return Utf8(std::wstring(name, size));
}

std::string LocalTimeText(std::chrono::system_clock::time_point Time) {
    const std::time_t t = std::chrono::system_clock::to_time_t(Time);
    std::tm local{};
    localtime_s(&local, &t);
    // The local fields read as UTC, minus the moment itself: the offset in seconds.
    const long offset = static_cast<long>(_mkgmtime(&local) - t) / 60;
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    const int minutes = static_cast<int>(offset < 0 ? -offset : offset) % (24 * 60);
    char zone[32];
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    std::string result = text;
    result += zone;
    return result;
}

std::string Sha256Hex(std::string_view Bytes) {
    unsigned char digest[32];
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool good = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) >= 0;
    good = good && BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) >= 0;
    good = good && BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(Bytes.data())),
                                  static_cast<ULONG>(Bytes.size()), 0) >= 0;
    good = good && BCryptFinishHash(hash, digest, sizeof digest, 0) >= 0;
    if (hash != nullptr)
        BCryptDestroyHash(hash);
    if (algorithm != nullptr)
        BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!good)
        throw EStation("SHA-256 nicht verfügbar (CNG)");
    static const char Digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : digest) {
        text += Digits[byte >> 4];
        text += Digits[byte & 15];
    }
    return text;
}

std::string QuotedName(const std::filesystem::path& Path) {
    std::string text = "\"";
    text += Utf8(Path.wstring());
    text += '"';
    return text;
}

}  // namespace tarnwick
