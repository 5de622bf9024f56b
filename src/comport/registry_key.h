// A registry key that the caller has opened, as far as the port's settings
// storage needs it: string and 32-bit integer values directly in the key.
//
// TMemoryRegistryKey keeps typed values in memory (POSIX and tests); the
// Windows keys are in registry_key_win32.h.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

// A value that is missing, has the wrong type, or cannot be written.
class ERegistryError : public std::runtime_error {
  public:
    ERegistryError(const std::string& Message, int SystemCode = 0)
        : std::runtime_error(Message), FSystemCode(SystemCode) {}
    // The system's error code, 0 where the failure is not the system's.
    int SystemCode() const { return FSystemCode; }

  private:
    int FSystemCode;
};

class TRegistryKey {
  public:
    virtual ~TRegistryKey() = default;

    // A string value (REG_SZ); replaces a value of the same name of any type.
    virtual void WriteString(std::string_view Name, std::string_view Value) = 0;
    // A 32-bit value (REG_DWORD); replaces a value of the same name of any type.
    virtual void WriteInteger(std::string_view Name, std::int32_t Value) = 0;
    // The empty text when the value does not exist; ERegistryError when it
    // exists but holds no string.
    virtual std::string ReadString(std::string_view Name) const = 0;
    // ERegistryError when the value does not exist or is no 32-bit value.
    virtual std::int32_t ReadInteger(std::string_view Name) const = 0;
    virtual bool ValueExists(std::string_view Name) const = 0;
};

class TMemoryRegistryKey final : public TRegistryKey {
  public:
    enum class TValueType { String, Integer };

    void WriteString(std::string_view Name, std::string_view Value) override;
    void WriteInteger(std::string_view Name, std::int32_t Value) override;
    std::string ReadString(std::string_view Name) const override;
    std::int32_t ReadInteger(std::string_view Name) const override;
    bool ValueExists(std::string_view Name) const override;

    // Value names in the order they were first written (names match without
    // regard to letter case, as in the Windows registry).
    std::vector<std::string> ValueNames() const;
    // Type of an existing value; ERegistryError when it does not exist.
    TValueType ValueType(std::string_view Name) const;
    bool DeleteValue(std::string_view Name);

  private:
    struct TValue {
        std::string Name;
        TValueType Type;
        std::string Text;
        std::int32_t Number = 0;
    };
    const TValue* Find(std::string_view Name) const;
    TValue& Slot(std::string_view Name);

    std::vector<TValue> FValues;
};
}  // namespace tarnwick
