#include <windows.h>

#include <limits>
#include <string>
#include <system_error>

#include "comport/registry_key_win32.h"

namespace tarnwick {

namespace {

std::string Quoted(std::string_view Text) {
    std::string result = "\"";
    result += Text;
    result += '"';
    return result;
}

[[noreturn]] void ThrowSystem(const std::string& What, LSTATUS Status) {
    const int code = static_cast<int>(Status);
    throw ERegistryError(What + ": " + std::system_category().message(code), code);
}

}  // namespace

void TWin32RegistryKey::WriteString(std::string_view Name, std::string_view Value) {
    const std::string name(Name);
    const std::string value(Value);  // the stored size includes the terminating zero
    if (value.size() >= std::numeric_limits<DWORD>::max()) {
        throw ERegistryError("Registry value " + Quoted(Name) + " is too long");
    }
    const LSTATUS status =
        RegSetValueExA(FKey, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    if (status != ERROR_SUCCESS) {
        ThrowSystem("Cannot write registry value " + Quoted(Name), status);
    }
}

void TWin32RegistryKey::WriteInteger(std::string_view Name, std::int32_t Value) {
    const std::string name(Name);
    const DWORD data = static_cast<DWORD>(Value);
    const LSTATUS status = RegSetValueExA(FKey, name.c_str(), 0, REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&data), sizeof(data));
    if (status != ERROR_SUCCESS) {
        ThrowSystem("Cannot write registry value " + Quoted(Name), status);
    }
}

std::string TWin32RegistryKey::ReadString(std::string_view Name) const {
    const std::string name(Name);
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExA(FKey, name.c_str(), nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        return {};
    }
    // The value may grow between the two calls; ask again with the new size.
    std::string buffer;
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
            if (status == ERROR_FILE_NOT_FOUND) {
                return {};
            }
            ThrowSystem("Cannot read registry value " + Quoted(Name), status);
        }
        if (type != REG_SZ && type != REG_EXPAND_SZ) {
            throw ERegistryError("Registry value " + Quoted(Name) + " is not a string");
        }
        buffer.assign(static_cast<std::size_t>(size) + 1, '\0');
        DWORD got = size;
        status = RegQueryValueExA(FKey, name.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE*>(buffer.data()), &got);
        if (status == ERROR_SUCCESS) {
            if (type != REG_SZ && type != REG_EXPAND_SZ) {
                throw ERegistryError("Registry value " + Quoted(Name) + " is not a string");
            }
            // The stored data need not end in a zero; cut at the first one.
            buffer.resize(got);
            const std::size_t zero = buffer.find('\0');
            if (zero != std::string::npos) {
                buffer.resize(zero);
            }
            return buffer;
        }
        size = got;
    }
    throw ERegistryError("Cannot read registry value " + Quoted(Name) + ": it keeps changing");
}

std::int32_t TWin32RegistryKey::ReadInteger(std::string_view Name) const {
    const std::string name(Name);
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    const LSTATUS status =
        RegQueryValueExA(FKey, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        throw ERegistryError("Registry value " + Quoted(Name) + " does not exist",
                             static_cast<int>(status));
    }
    if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && type != REG_DWORD) ||
        (status == ERROR_SUCCESS && size != sizeof(data))) {
        throw ERegistryError("Registry value " + Quoted(Name) + " is not an integer");
    }
    if (status != ERROR_SUCCESS) {
        ThrowSystem("Cannot read registry value " + Quoted(Name), status);
    }
    return static_cast<std::int32_t>(data);
}

bool TWin32RegistryKey::ValueExists(std::string_view Name) const {
    const std::string name(Name);
    const LSTATUS status = RegQueryValueExA(FKey, name.c_str(), nullptr, nullptr, nullptr, nullptr);
    return status == ERROR_SUCCESS;
}

TWin32ReadOnlyKey::TWin32ReadOnlyKey(HKEY__* Parent, const std::string& Path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(Parent, Path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS)
        FKey = key;
}

TWin32ReadOnlyKey::~TWin32ReadOnlyKey() {
    if (FKey != nullptr)
        RegCloseKey(FKey);
}

std::vector<std::string> TWin32ReadOnlyKey::SubkeyNames() const {
    std::vector<std::string> names;
    DWORD count = 0;
    DWORD longest = 0;
    if (FKey == nullptr ||
        RegQueryInfoKeyA(FKey, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return names;
    }
    std::string buffer(static_cast<std::size_t>(longest) + 1, '\0');
    for (DWORD i = 0; i < count; ++i) {
        DWORD size = static_cast<DWORD>(buffer.size());
        const LSTATUS status =
            RegEnumKeyExA(FKey, i, buffer.data(), &size, nullptr, nullptr, nullptr, nullptr);
        // A key added or removed meanwhile ends the list early; it is read again next time.
        if (status != ERROR_SUCCESS)
            break;
        names.emplace_back(buffer.data(), size);
    }
    return names;
}

bool TWin32ReadOnlyKey::HasSubkey(const std::string& Name) const {
    return TWin32ReadOnlyKey(FKey, Name).Valid();
}

}  // namespace tarnwick
