// The Windows registry keys (Windows builds only): TWin32RegistryKey works on an
// HKEY the caller opened, TWin32ReadOnlyKey opens one for reading.
#pragma once

#include <string>
#include <vector>

#include "comport/registry_key.h"

struct HKEY__;  // the key handle type of <windows.h>, kept out of this header

namespace tarnwick {

class TWin32RegistryKey final : public TRegistryKey {
  public:
    // Key stays the caller's: it must outlive this object, which never closes it.
    explicit TWin32RegistryKey(HKEY__* Key) : FKey(Key) {}

    void WriteString(std::string_view Name, std::string_view Value) override;
    void WriteInteger(std::string_view Name, std::int32_t Value) override;
    std::string ReadString(std::string_view Name) const override;
    std::int32_t ReadInteger(std::string_view Name) const override;
    bool ValueExists(std::string_view Name) const override;

  private:
    HKEY__* FKey;
};

// A key opened for reading only, closed with the object; for walking a branch
// of the registry (the device list).
class TWin32ReadOnlyKey {
  public:
    // Opens Path below Parent; an object that is not Valid() when it cannot.
    TWin32ReadOnlyKey(HKEY__* Parent, const std::string& Path);
    ~TWin32ReadOnlyKey();
    TWin32ReadOnlyKey(const TWin32ReadOnlyKey&) = delete;
    TWin32ReadOnlyKey& operator=(const TWin32ReadOnlyKey&) = delete;

    bool Valid() const { return FKey != nullptr; }
    HKEY__* Handle() const { return FKey; }
    // Names of the subkeys, in the registry's order; empty when they cannot be read.
    std::vector<std::string> SubkeyNames() const;
    bool HasSubkey(const std::string& Name) const;
    // The key's values (read them only).
    TWin32RegistryKey Values() const { return TWin32RegistryKey(FKey); }

  private:
    HKEY__* FKey = nullptr;
};

}  // namespace tarnwick
