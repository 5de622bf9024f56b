#include "comport/registry_key.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwick {
namespace {

using TType = TMemoryRegistryKey::TValueType;

TEST(MemoryRegistryKey, MissingStringReadsEmptyButMissingIntegerIsAnError) {
    TMemoryRegistryKey key;
    EXPECT_EQ(key.ReadString("Port"), "");
    EXPECT_FALSE(key.ValueExists("Port"));
    EXPECT_THROW(key.ReadInteger("CustomBaudRate"), ERegistryError);
}

TEST(MemoryRegistryKey, ValuesKeepTheirTypeAndAWrongTypeIsAnError) {
    TMemoryRegistryKey key;
    key.WriteString("BaudRate", "9600");
    key.WriteInteger("Buffer.InputSize", -1);
    EXPECT_EQ(key.ValueType("BaudRate"), TType::String);
    EXPECT_EQ(key.ValueType("Buffer.InputSize"), TType::Integer);
    EXPECT_EQ(key.ReadInteger("Buffer.InputSize"), -1);
    EXPECT_EQ(key.ReadString("BaudRate"), "9600");
    // A number stored as text is still no integer value.
    EXPECT_THROW(key.ReadInteger("BaudRate"), ERegistryError);
    EXPECT_THROW(key.ReadString("Buffer.InputSize"), ERegistryError);
}

TEST(MemoryRegistryKey, NamesMatchWithoutLetterCaseAndRewritesKeepTheirPlace) {
    TMemoryRegistryKey key;
    key.WriteString("Port", "COM1");
    key.WriteInteger("CustomBaudRate", 1);
    key.WriteString("PORT", "COM2");
    key.WriteString("customBaudRate", "now text");
    EXPECT_EQ(key.ReadString("port"), "COM2");
    EXPECT_EQ(key.ValueType("CUSTOMBAUDRATE"), TType::String);
    EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"Port", "CustomBaudRate"}));
    EXPECT_TRUE(key.DeleteValue("PORT"));
    EXPECT_FALSE(key.DeleteValue("Port"));
    EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"CustomBaudRate"}));
}

TEST(MemoryRegistryKey, ErrorNamesTheValue) {
    TMemoryRegistryKey key;
    try {
        key.ReadInteger("Timeouts.ReadInterval");
        FAIL() << "no error";
    } catch (const ERegistryError& e) {
        EXPECT_NE(std::string(e.what()).find("Timeouts.ReadInterval"), std::string::npos);
        EXPECT_EQ(e.SystemCode(), 0);
    }
}

}  // namespace
}  // namespace tarnwick
