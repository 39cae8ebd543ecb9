// The version block's checks, shared by the compiled resource block and the built program:
// both must carry the same identity.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "Identity.h"
#include "ResFile.h"

namespace p2::test {

inline constexpr std::uint16_t kRtIcon = 3;
inline constexpr std::uint16_t kRtGroupIcon = 14;
inline constexpr std::uint16_t kRtVersion = 16;
inline constexpr std::uint16_t kRtManifest = 24;
inline constexpr std::uint16_t kJapanese = 0x0411;

// Version 1.5.0.0 of a 32-bit Windows application, no flags, in Japanese.
inline void ExpectFixedVersionPart(const Resource& res) {
    EXPECT_EQ(res.languageId, kJapanese);
    const VersionNode root = ReadVersionBlock(res.data);
    EXPECT_EQ(root.key, u"VS_VERSION_INFO");
    ASSERT_EQ(root.value.size(), 52u);
    const Bytes& fixed = root.value;
    EXPECT_EQ(Le32(fixed, 0), 0xFEEF04BDu);
    EXPECT_EQ(Le32(fixed, 8), 0x00010005u) << "file version, high part";
    EXPECT_EQ(Le32(fixed, 12), 0x00000000u) << "file version, low part";
    EXPECT_EQ(Le32(fixed, 16), 0x00010005u) << "product version, high part";
    EXPECT_EQ(Le32(fixed, 20), 0x00000000u) << "product version, low part";
    EXPECT_EQ(Le32(fixed, 24), 0x3Fu) << "flags mask";
    EXPECT_EQ(Le32(fixed, 28), 0u) << "flags";
    EXPECT_EQ(Le32(fixed, 32), 4u) << "operating system";
    EXPECT_EQ(Le32(fixed, 36), 1u) << "file type";
}

// Exactly the six names in one Japanese Unicode string table, which the translation names.
inline void ExpectVersionStrings(const Resource& res) {
    const VersionNode root = ReadVersionBlock(res.data);
    const VersionNode* info = root.Child(u"StringFileInfo");
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(info->children.size(), 1u);
    const VersionNode& table = info->children.front();
    EXPECT_EQ(table.key, u"041104B0");

    const std::vector<std::pair<std::u16string, std::string>> expected = {
        {u"CompanyName", kMakerName}, {u"ProductName", "Pelorin2"},
        {u"FileVersion", "1.05"},     {u"ProductVersion", "1.05"},
        {u"InternalName", "P2Tool"},  {u"OriginalFilename", "P2Tool.exe"},
    };
    ASSERT_EQ(table.children.size(), expected.size());
    for (const auto& [key, value] : expected) {
        const VersionNode* entry = table.Child(key);
        ASSERT_NE(entry, nullptr) << std::string(key.begin(), key.end());
        EXPECT_EQ(entry->type, 1);
        EXPECT_TRUE(entry->Text() == Utf16(value)) << std::string(key.begin(), key.end());
    }

    const VersionNode* var = root.Child(u"VarFileInfo");
    ASSERT_NE(var, nullptr);
    ASSERT_EQ(var->children.size(), 1u);
    const VersionNode& translation = var->children.front();
    EXPECT_EQ(translation.key, u"Translation");
    ASSERT_EQ(translation.value.size(), 4u);
    EXPECT_EQ(Le16(translation.value, 0), 0x0411);
    EXPECT_EQ(Le16(translation.value, 2), 0x04B0);
}

}  // namespace p2::test
