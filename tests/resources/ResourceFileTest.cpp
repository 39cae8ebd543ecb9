// The compiled resource block of the Windows launcher: what the platform reads from the
// program file without running it.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "Identity.h"
#include "ResFile.h"
#include "VersionChecks.h"
#include "XmlTags.h"

namespace p2::test {
namespace {

class ResourceFile : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { resources_ = ReadResources(ReadBytes(P2_RESOURCE_FILE)); }

    // The one resource of that type and name; fails the test when there is not exactly one.
    static const Resource& Only(std::uint16_t type, std::uint16_t name) {
        const auto found = FindResources(resources_, type, name);
        if (found.size() != 1) {
            throw std::runtime_error("expected one resource of type " + std::to_string(type) +
                                     " name " + std::to_string(name) + ", found " +
                                     std::to_string(found.size()));
        }
        return *found.front();
    }

    static std::vector<Resource> resources_;
};

std::vector<Resource> ResourceFile::resources_;

// ---- Version block ---------------------------------------------------------------------

using VersionBlock = ResourceFile;

TEST_F(VersionBlock, FixedPartGivesVersionOneFiveForAWindowsApplication) {
    ExpectFixedVersionPart(Only(kRtVersion, 1));
}

TEST_F(VersionBlock, StringTableIsJapaneseUnicodeWithExactlyTheSixNames) {
    ExpectVersionStrings(Only(kRtVersion, 1));
}

// ---- Manifest --------------------------------------------------------------------------

using Manifest = ResourceFile;

TEST_F(Manifest, IsTheManifestFileByteForByteWithItsByteOrderMark) {
    const Resource& res = Only(kRtManifest, 1);
    EXPECT_EQ(res.languageId, kJapanese);
    ASSERT_GE(res.data.size(), 3u);
    EXPECT_EQ(res.data[0], 0xEF);
    EXPECT_EQ(res.data[1], 0xBB);
    EXPECT_EQ(res.data[2], 0xBF);
    EXPECT_EQ(res.data, ReadBytes(P2_SOURCE_DIR "/resources/Pelorin2.manifest"));
}

TEST_F(Manifest, AsksForAdministratorRightsAndNothingElse) {
    const Bytes& data = Only(kRtManifest, 1).data;
    const std::string doc(data.begin(), data.end());
    const auto tags = XmlStartTags(doc);
    std::vector<std::string> names;
    for (const XmlTag& tag : tags) {
        names.push_back(tag.name);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"assembly", "assemblyIdentity", "trustInfo", "security",
                                        "requestedPrivileges", "requestedExecutionLevel"}))
        << "no dependency, compatibility or other element";

    using Attributes = std::map<std::string, std::string>;
    ASSERT_EQ(tags.size(), 6u);
    EXPECT_EQ(tags[0].attributes, (Attributes{{"xmlns", "urn:schemas-microsoft-com:asm.v1"},
                                              {"manifestVersion", "1.0"}}));
    EXPECT_EQ(tags[1].attributes, (Attributes{{"version", "1.5.0.0"},
                                              {"processorArchitecture", "x86"},
                                              {"name", "P2Tool.exe"},
                                              {"type", "win32"}}));
    EXPECT_EQ(tags[2].attributes, (Attributes{{"xmlns", "urn:schemas-microsoft-com:asm.v3"}}));
    EXPECT_EQ(tags[5].attributes, (Attributes{{"level", "requireAdministrator"}}));
}

// ---- Icon ------------------------------------------------------------------------------

using Icon = ResourceFile;

struct IconShape {
    int size;
    int colours;
    int bitCount;
};
constexpr IconShape kShapes[] = {{32, 2, 1}, {32, 16, 4}, {16, 16, 4}};

TEST_F(Icon, GroupListsThreeImagesOfTheRightShape) {
    const Bytes& group = Only(kRtGroupIcon, 1).data;
    ASSERT_GE(group.size(), 6u);
    EXPECT_EQ(Le16(group, 0), 0);
    EXPECT_EQ(Le16(group, 2), 1) << "an icon, not a cursor";
    ASSERT_EQ(Le16(group, 4), 3);
    ASSERT_EQ(group.size(), 6u + 3 * 14);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("image " + std::to_string(i));
        const std::size_t entry = 6 + 14 * static_cast<std::size_t>(i);
        const IconShape& shape = kShapes[i];
        EXPECT_EQ(group[entry], shape.size);
        EXPECT_EQ(group[entry + 1], shape.size);
        EXPECT_EQ(group[entry + 2], shape.colours);
        EXPECT_EQ(Le16(group, entry + 4), 1) << "planes";
        EXPECT_EQ(Le16(group, entry + 6), shape.bitCount);

        const Resource& image = Only(kRtIcon, Le16(group, entry + 12));
        EXPECT_EQ(image.data.size(), Le32(group, entry + 8));
        ASSERT_GE(image.data.size(), 40u);
        EXPECT_EQ(Le32(image.data, 0), 40u) << "BITMAPINFOHEADER";
        EXPECT_EQ(Le32(image.data, 4), static_cast<std::uint32_t>(shape.size));
        EXPECT_EQ(Le32(image.data, 8), static_cast<std::uint32_t>(2 * shape.size))
            << "colour bits and mask";
        EXPECT_EQ(Le16(image.data, 12), 1);
        EXPECT_EQ(Le16(image.data, 14), shape.bitCount);
        EXPECT_EQ(Le32(image.data, 16), 0u) << "uncompressed";
    }
}

// The AND mask hides the rounded corners and shows the badge; an inverted or empty mask
// would make the icon a blank square or invisible.
TEST_F(Icon, MaskHidesTheCornersAndShowsTheBadge) {
    const Bytes& group = Only(kRtGroupIcon, 1).data;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("image " + std::to_string(i));
        const IconShape& shape = kShapes[i];
        const Bytes& image =
            Only(kRtIcon, Le16(group, 6 + 14 * static_cast<std::size_t>(i) + 12)).data;
        const std::size_t n = static_cast<std::size_t>(shape.size);
        const std::size_t xorRow = (n * static_cast<std::size_t>(shape.bitCount) + 31) / 32 * 4;
        const std::size_t andRow = (n + 31) / 32 * 4;
        const std::size_t maskStart = 40 + 4 * static_cast<std::size_t>(shape.colours) + xorRow * n;
        ASSERT_EQ(image.size(), maskStart + andRow * n);
        // Rows are stored bottom up.
        const auto hidden = [&](std::size_t x, std::size_t y) {
            const std::uint8_t byte = image[maskStart + (n - 1 - y) * andRow + x / 8];
            return (byte & (0x80 >> (x % 8))) != 0;
        };
        EXPECT_TRUE(hidden(0, 0));
        EXPECT_TRUE(hidden(n - 1, 0));
        EXPECT_TRUE(hidden(0, n - 1));
        EXPECT_TRUE(hidden(n - 1, n - 1));
        EXPECT_FALSE(hidden(n / 2, n / 2));
        EXPECT_FALSE(hidden(n / 2, 0));
        EXPECT_FALSE(hidden(0, n / 2));
    }
}

TEST_F(Icon, KeptIconFileIsWhatTheGeneratorDraws) {
    EXPECT_EQ(ReadBytes(P2_SOURCE_DIR "/resources/Pelorin2.ico"),
              ReadBytes(P2_ICON_DIR "/Pelorin2.ico"))
        << "run p2_make_icon and copy its Pelorin2.ico into resources/";
}

// ---- The block as a whole ----------------------------------------------------------------

TEST_F(ResourceFile, HoldsOnlyTheIdentityResourcesAllInJapanese) {
    int icons = 0;
    for (const Resource& res : resources_) {
        if (res.data.empty() && res.type.isOrdinal && res.type.ordinal == 0) {
            continue;  // the leading empty record of every .res file
        }
        ASSERT_TRUE(res.type.isOrdinal);
        EXPECT_EQ(res.languageId, kJapanese) << "type " << res.type.ordinal;
        const std::uint16_t type = res.type.ordinal;
        EXPECT_TRUE(type == kRtIcon || type == kRtGroupIcon || type == kRtVersion ||
                    type == kRtManifest)
            << "unexpected resource type " << type;
        icons += type == kRtIcon ? 1 : 0;
    }
    EXPECT_EQ(icons, 3);
}

}  // namespace
}  // namespace p2::test
