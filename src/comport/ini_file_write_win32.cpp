// Writing an INI file whole on Windows: a temporary file beside it, moved over it.
#include <windows.h>

#include <algorithm>
#include <limits>
#include <string>

#include "comport/ini_file_write.h"

namespace tarnwick {

namespace {

int LastError() {
    return static_cast<int>(GetLastError());
}

}  // namespace

void WriteWholeFile(const std::filesystem::path& Target, const std::string& Content) {
    // Same folder as the target, so the final move is a rename on one volume.
    const std::filesystem::path temp =
        Target.parent_path() /
        (Target.filename().wstring() + L".tmp" + std::to_wstring(GetCurrentProcessId()));
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ThrowWriteError(Target, "cannot create temporary file " + Quoted(temp.string()),
                        LastError());
    }
    std::size_t done = 0;
    while (done < Content.size()) {
        const DWORD chunk = static_cast<DWORD>(
            std::min<std::size_t>(Content.size() - done, std::numeric_limits<DWORD>::max()));
        DWORD written = 0;
        if (!WriteFile(file, Content.data() + done, chunk, &written, nullptr) || written == 0) {
            const int code = LastError();
            CloseHandle(file);
            DeleteFileW(temp.c_str());
            ThrowWriteError(Target, "cannot write temporary file", code);
        }
        done += written;
    }
    if (!FlushFileBuffers(file)) {
        const int code = LastError();
        CloseHandle(file);
        DeleteFileW(temp.c_str());
        ThrowWriteError(Target, "cannot write temporary file", code);
    }
    CloseHandle(file);
    if (!MoveFileExW(temp.c_str(), Target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const int code = LastError();
        DeleteFileW(temp.c_str());
        ThrowWriteError(Target, "cannot replace it", code);
    }
}

}  // namespace tarnwick
