#include "comport/registry_key.h"

#include <algorithm>

namespace tarnwick {

namespace {

char AsciiUpper(char C) {
    return (C >= 'a' && C <= 'z') ? static_cast<char>(C - 'a' + 'A') : C;
}

bool SameName(std::string_view A, std::string_view B) {
    return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
               return AsciiUpper(X) == AsciiUpper(Y);
           });
}

std::string Quoted(std::string_view Text) {
    std::string result = "\"";
    result += Text;
    result += '"';
    return result;
}

}  // namespace

const TMemoryRegistryKey::TValue* TMemoryRegistryKey::Find(std::string_view Name) const {
    const auto it = std::find_if(FValues.begin(), FValues.end(),
                                 [&](const TValue& v) { return SameName(v.Name, Name); });
    return it == FValues.end() ? nullptr : &*it;
}

TMemoryRegistryKey::TValue& TMemoryRegistryKey::Slot(std::string_view Name) {
    const auto it = std::find_if(FValues.begin(), FValues.end(),
                                 [&](const TValue& v) { return SameName(v.Name, Name); });
    if (it != FValues.end()) {
        return *it;
    }
    return FValues.emplace_back(TValue{std::string(Name), TValueType::String, {}, 0});
}

void TMemoryRegistryKey::WriteString(std::string_view Name, std::string_view Value) {
    TValue& slot = Slot(Name);
    slot.Type = TValueType::String;
    slot.Text = Value;
    slot.Number = 0;
}

void TMemoryRegistryKey::WriteInteger(std::string_view Name, std::int32_t Value) {
    TValue& slot = Slot(Name);
    slot.Type = TValueType::Integer;
    slot.Text.clear();
    slot.Number = Value;
}

std::string TMemoryRegistryKey::ReadString(std::string_view Name) const {
    const TValue* value = Find(Name);
    if (value == nullptr) {
        return {};
    }
    if (value->Type != TValueType::String) {
        throw ERegistryError("Registry value " + Quoted(Name) + " is not a string");
    }
    return value->Text;
}

std::int32_t TMemoryRegistryKey::ReadInteger(std::string_view Name) const {
    const TValue* value = Find(Name);
    if (value == nullptr) {
        throw ERegistryError("Registry value " + Quoted(Name) + " does not exist");
    }
    if (value->Type != TValueType::Integer) {
        throw ERegistryError("Registry value " + Quoted(Name) + " is not an integer");
    }
    return value->Number;
}

bool TMemoryRegistryKey::ValueExists(std::string_view Name) const {
    return Find(Name) != nullptr;
}

std::vector<std::string> TMemoryRegistryKey::ValueNames() const {
    std::vector<std::string> names;
    names.reserve(FValues.size());
    for (const TValue& value : FValues) {
        names.push_back(value.Name);
    }
    return names;
}

TMemoryRegistryKey::TValueType TMemoryRegistryKey::ValueType(std::string_view Name) const {
    const TValue* value = Find(Name);
    if (value == nullptr) {
        throw ERegistryError("Registry value " + Quoted(Name) + " does not exist");
    }
    return value->Type;
}

bool TMemoryRegistryKey::DeleteValue(std::string_view Name) {
    const auto it = std::find_if(FValues.begin(), FValues.end(),
                                 [&](const TValue& v) { return SameName(v.Name, Name); });
    if (it == FValues.end()) {
        return false;
    }
    FValues.erase(it);
    return true;
}

}  // namespace tarnwick
