// The registry port as every implementation must answer: the Win32 return codes, the
// 1024-byte buffer the reader hands over, the bytes as stored, names in any letter case.
// The world's Put(name, type, bytes) stores a value of the test key as its platform would
// (a text with its terminator, in the store's code page).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "contracts/ContractSupport.h"
#include "platform/mRegEdit.h"
#include "platform/ports/Registry.h"

namespace p2::contract {

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegDword = 4;
// Where the world puts its values: below the classes root, as Access registers itself.
inline const std::string kContractKey = "P2PortTest.Application\\shell\\open\\command";

template <class World>
class RegistryContract : public ::testing::Test {
  protected:
    // Opens the test key and queries into a 1024-byte buffer filled with 0xCC.
    long Query(const std::string& valueName) {
        Registry& registry = world.registry();
        RegKey key = 0;
        long status = registry.OpenKey(
            kHKeyClassesRoot, "p2porttest.application\\Shell\\Open\\Command", kKeyRead, key);
        if (status != kRegSuccess) {
            return status;
        }
        buffer.fill(0xCC);
        size = static_cast<uint32_t>(buffer.size());
        type = 0;
        status = registry.QueryValue(key, valueName, type, buffer.data(), size);
        EXPECT_EQ(registry.CloseKey(key), kRegSuccess);
        return status;
    }
    std::string Returned() const {
        return std::string(reinterpret_cast<const char*>(buffer.data()), size);
    }
    bool Untouched(std::size_t from) const {
        for (std::size_t i = from; i < buffer.size(); ++i) {
            if (buffer[i] != 0xCC) {
                return false;
            }
        }
        return true;
    }
    // As the launcher reads.
    std::string Read(const std::string& valueName) {
        return RegGetString(world.registry(), kHKeyClassesRoot, kContractKey, valueName);
    }

    World world;
    std::array<unsigned char, 1024> buffer{};
    uint32_t size = 0;
    uint32_t type = 0;
};

TYPED_TEST_SUITE_P(RegistryContract);

TYPED_TEST_P(RegistryContract, DefaultValueThroughTheClassesRoot) {
    const std::string command = "\"C:\\Office\\MSACCESS.EXE\" /NOSTARTUP \"%1\"";
    this->world.Put("", kRegSz, command);
    ASSERT_EQ(this->Query(""), kRegSuccess);
    EXPECT_EQ(this->size, command.size() + 1);
    EXPECT_EQ(this->type, kRegSz);
    EXPECT_EQ(this->Returned(), command + '\0');
    EXPECT_EQ(this->Read(""), command);
}

TYPED_TEST_P(RegistryContract, NamesCompareWithoutCaseAndMissingOnesAnswer2) {
    this->world.Put("Path", kRegSz, "C:\\x");
    EXPECT_EQ(this->Read("Path"), "C:\\x");
    EXPECT_EQ(this->Read("path"), "C:\\x");
    EXPECT_EQ(this->Query("PATH"), kRegSuccess);
    EXPECT_EQ(this->Query("Other"), kRegFileNotFound);
    EXPECT_EQ(this->Query(""), kRegFileNotFound);
    EXPECT_EQ(this->Read("Other"), "");
    EXPECT_EQ(this->Read(""), "");
    RegKey key = 0;
    EXPECT_EQ(this->world.registry().OpenKey(kHKeyClassesRoot, "P2PortTest.Missing", kKeyRead, key),
              kRegFileNotFound);
}

TYPED_TEST_P(RegistryContract, DataMayFillTheBufferButNotExceedIt) {
    this->world.Put("Fits", kRegSz, std::string(1023, 'a'));
    this->world.Put("TooLong", kRegSz, std::string(1024, 'a'));
    ASSERT_EQ(this->Query("Fits"), kRegSuccess);
    EXPECT_EQ(this->size, 1024u);
    EXPECT_EQ(this->Returned(), std::string(1023, 'a') + '\0');
    EXPECT_EQ(this->Read("Fits"), std::string(1023, 'a'));

    ASSERT_EQ(this->Query("TooLong"), kRegMoreData);
    EXPECT_EQ(this->size, 1025u);
    // Windows leaves the buffer undefined here; our stores leave it as it was.
    if (TypeParam::kKeepsBufferOnMoreData) {
        EXPECT_TRUE(this->Untouched(0));
    }
    EXPECT_EQ(this->Read("TooLong"), "");
}

TYPED_TEST_P(RegistryContract, ShortDataLeavesTheRestOfTheBufferUntouched) {
    this->world.Put("v", kRegSz, "abc");
    ASSERT_EQ(this->Query("V"), kRegSuccess);
    EXPECT_EQ(this->Returned(), std::string("abc\0", 4));
    EXPECT_TRUE(this->Untouched(4));
}

// Whatever the type, the reader gets the bytes, and the text ends at the first zero byte.
TYPED_TEST_P(RegistryContract, BytesComeBackAsStored) {
    const struct {
        const char* name;
        uint32_t type;
        std::string stored;
        std::string bytes;
        std::string text;
    } cases[] = {
        {"nul", kRegSz, std::string("A\0B", 3), std::string("A\0B\0", 4), "A"},
        {"dword", kRegDword, std::string("\0\x01\0\0", 4), std::string("\0\x01\0\0", 4), ""},
        {"number", kRegDword, std::string("CBA\0", 4), std::string("CBA\0", 4), "CBA"},
        {"exp", kRegExpandSz, "%H%", std::string("%H%\0", 4), "%H%"},
        {"path", kRegExpandSz, "%SystemRoot%\\x", std::string("%SystemRoot%\\x\0", 15),
         "%SystemRoot%\\x"},
    };
    for (const auto& c : cases) {
        this->world.Put(c.name, c.type, c.stored);
    }
    for (const auto& c : cases) {
        ASSERT_EQ(this->Query(c.name), kRegSuccess) << c.name;
        EXPECT_EQ(this->Returned(), c.bytes) << c.name;
        EXPECT_EQ(this->type, c.type) << c.name;
        EXPECT_EQ(this->Read(c.name), c.text) << c.name;
    }
}

// In the store's code page and back: 932 and UTF-8 both spell it.
TYPED_TEST_P(RegistryContract, JapaneseTextComesBackAsWritten) {
    const std::string command = "\"C:\\オフィス 10\\MSACCESS.EXE\" \"%1\"";
    this->world.Put("", kRegSz, command);
    EXPECT_EQ(this->Read(""), command);
}

TYPED_TEST_P(RegistryContract, AdministratorProbeOpensTheSystemKey) {
    Registry& registry = this->world.registry();
    RegKey key = 0;
    ASSERT_EQ(registry.OpenKey(kHKeyLocalMachine, "SYSTEM", kKeyAllAccess, key), kRegSuccess);
    EXPECT_EQ(registry.CloseKey(key), kRegSuccess);
}

REGISTER_TYPED_TEST_SUITE_P(RegistryContract, DefaultValueThroughTheClassesRoot,
                            NamesCompareWithoutCaseAndMissingOnesAnswer2,
                            DataMayFillTheBufferButNotExceedIt,
                            ShortDataLeavesTheRestOfTheBufferUntouched, BytesComeBackAsStored,
                            JapaneseTextComesBackAsWritten, AdministratorProbeOpensTheSystemKey);

}  // namespace p2::contract
