// What the station needs from the system: locks between processes, a log line that
// reaches the disk whole, the host's name, the local time with its offset and SHA-256.
// One interface; station_files_posix.cpp and station_files_win32.cpp implement it.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarnwick {

// A station fault that ends the station: the message is German and complete.
class EStation : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Holds an exclusive lock on LockFile (created when missing) from construction to
// destruction; waits while another process or thread holds it. The file stays: removing
// it would let two holders lock two different files of one name.
class TFileLock {
  public:
    explicit TFileLock(const std::filesystem::path& LockFile);
    ~TFileLock();
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;

  private:
    std::intptr_t Handle;
};

// Appends Line and a line end to File under a lock, as one write, and syncs it to the disk
// before returning. A file whose last line has no end (torn by a crash) gets one first, so
// the torn line stays a line of its own that every reader sees as broken.
void AppendLineDurably(const std::filesystem::path& File, const std::string& Line);

// The host's name as its user knows it (UTF-8).
std::string HostName();

// "2026-12-09T07:55:03+01:00": local time with its offset from UTC.
std::string LocalTimeText(std::chrono::system_clock::time_point Time);

// Lower-case hex digits of the SHA-256 of Bytes.
std::string Sha256Hex(std::string_view Bytes);

// "Text" in double quotes, for messages.
std::string QuotedName(const std::filesystem::path& Path);

}  // namespace tarnwick
