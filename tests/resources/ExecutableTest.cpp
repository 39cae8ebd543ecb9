// The cross-built Windows launcher as the platform reads it without running it: a 32-bit
// graphical program that needs no library of the toolchain, carrying its version block,
// elevation manifest and icon. The program file is the one that P2_WINDOWS_EXE names (at
// configure time, or in the environment at test time); without it the tests are skipped.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "Identity.h"
#include "PeImage.h"
#include "ResFile.h"
#include "VersionChecks.h"

namespace p2::test {
namespace {

std::string ExecutablePath() {
    const char* fromEnvironment = std::getenv("P2_WINDOWS_EXE");
    return fromEnvironment && *fromEnvironment ? fromEnvironment : P2_WINDOWS_EXE;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

class Executable : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (std::filesystem::is_regular_file(ExecutablePath())) {
            file_ = ReadBytes(ExecutablePath());
            image_ = ReadPeImage(file_);
        }
    }

    void SetUp() override {
        if (file_.empty()) {
            GTEST_SKIP() << "no Windows build at " << ExecutablePath()
                         << " (tests/win32/run_wine_tests.sh makes one)";
        }
    }

    // The one resource of that type and name; throws when there is not exactly one.
    static const Resource& Only(std::uint16_t type, std::uint16_t name) {
        const auto found = FindResources(image_.resources, type, name);
        if (found.size() != 1) {
            throw std::runtime_error("expected one resource of type " + std::to_string(type) +
                                     " name " + std::to_string(name) + ", found " +
                                     std::to_string(found.size()));
        }
        return *found.front();
    }

    static Bytes file_;
    static PeImage image_;
};

Bytes Executable::file_;
PeImage Executable::image_;

// ---- The programs that ship, and what the tests load into them ---------------------------

// Beside the launcher: the build's other outputs.
std::string BesideLauncher(const std::string& name) {
    return (std::filesystem::path(ExecutablePath()).parent_path() / name).string();
}

// "library function" for each entry of the list of functions checked as present on XP SP3.
std::set<std::string> XpImportAllowlist() {
    std::ifstream in(P2_SOURCE_DIR "/tests/resources/xp_imports.txt");
    std::set<std::string> entries;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string library;
        std::string function;
        if (fields >> library >> function && library[0] != '#') {
            entries.insert(Lower(library) + " " + function);
        }
    }
    return entries;
}

struct ShippedProgramCase {
    const char* name;
    const char* label;
    std::uint16_t subsystem;  // 2: graphical, 3: console
};

// Test names and failures show the program's name, not the bytes of the case.
void PrintTo(const ShippedProgramCase& program, std::ostream* out) {
    *out << program.name;
}

// Each program the package installs, read as the loader reads it. Only these files show what
// ships: the tests under Wine may run on an x86_64 build of the same sources.
class ShippedProgram : public ::testing::TestWithParam<ShippedProgramCase> {
  protected:
    void SetUp() override {
        const std::string path = BesideLauncher(GetParam().name);
        if (!std::filesystem::is_regular_file(path)) {
            GTEST_SKIP() << "no Windows build at " << path
                         << " (tests/win32/run_wine_tests.sh makes one)";
        }
        image_ = ReadPeImage(ReadBytes(path));
    }
    PeImage image_;
};

TEST_P(ShippedProgram, IsA32BitProgramOfItsSubsystem) {
    EXPECT_EQ(image_.machine, 0x14C) << "i386";
    EXPECT_EQ(image_.optionalMagic, 0x10B) << "PE32";
    EXPECT_EQ(image_.subsystem, GetParam().subsystem) << "2: no console window opens";
    EXPECT_NE(image_.characteristics & 0x0002, 0) << "executable image";
    EXPECT_NE(image_.characteristics & 0x0100, 0) << "32-bit machine";
    EXPECT_EQ(image_.characteristics & 0x2000, 0) << "not a DLL";
}

// A library of the toolchain (libgcc, libstdc++, libwinpthread) is missing on the users'
// machines: the program would not start at all.
TEST_P(ShippedProgram, ImportsOnlyLibrariesOfWindowsItself) {
    const std::set<std::string> system = {"kernel32.dll", "user32.dll",   "gdi32.dll",
                                          "advapi32.dll", "shell32.dll",  "shlwapi.dll",
                                          "ole32.dll",    "oleaut32.dll", "comctl32.dll",
                                          "msvcrt.dll",   "version.dll",  "ntdll.dll"};
    ASSERT_FALSE(image_.imports.empty());
    for (const std::string& name : image_.imports) {
        EXPECT_TRUE(system.count(Lower(name)) == 1) << name << " is not a library of Windows";
    }
}

// The loader refuses a program that imports a function the system lacks, before the program
// runs at all: every import must be one checked as present on Windows XP SP3.
TEST_P(ShippedProgram, ImportsOnlyFunctionsThatWindowsXpHas) {
    const std::set<std::string> allowed = XpImportAllowlist();
    ASSERT_GT(allowed.size(), 50u) << "the allowlist was not read";
    ASSERT_GT(image_.importedFunctions.size(), 50u);
    std::set<std::string> libraries;
    for (const ImportedFunction& import : image_.importedFunctions) {
        libraries.insert(Lower(import.library));
        EXPECT_EQ(allowed.count(Lower(import.library) + " " + import.function), 1u)
            << import.library << " " << import.function
            << ": check its minimum Windows version, then add it to tests/resources/"
               "xp_imports.txt";
    }
    EXPECT_EQ(libraries.size(), image_.imports.size()) << "a library imports no function";
}

INSTANTIATE_TEST_SUITE_P(Windows, ShippedProgram,
                         ::testing::Values(ShippedProgramCase{"Pelorin2.exe", "Launcher", 2},
                                           ShippedProgramCase{"p2wg.exe", "PlanTool", 3}),
                         [](const auto& test) { return std::string(test.param.label); });

// COM finds the stand-in engine's entry points by their plain names: a stdcall decoration
// (@N, which only the 32-bit compiler adds) would leave DAO uncreatable in the 32-bit tests.
TEST(DaoStandIn, ExportsItsEntryPointsUndecorated) {
    const std::string path = BesideLauncher("p2_dao_fake.dll");
    if (!std::filesystem::is_regular_file(path)) {
        GTEST_SKIP() << "no Windows test build at " << path;
    }
    const PeImage image = ReadPeImage(ReadBytes(path));
    EXPECT_EQ(image.machine, 0x14C) << "i386";
    std::vector<std::string> names = image.exports;
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"DllCanUnloadNow", "DllGetClassObject",
                                               "DllRegisterServer", "DllUnregisterServer"}));
}

// ---- Version block ---------------------------------------------------------------------

using ExecutableVersionBlock = Executable;

TEST_F(ExecutableVersionBlock, FixedPartGivesVersionOneFiveForAWindowsApplication) {
    ExpectFixedVersionPart(Only(kRtVersion, 1));
}

TEST_F(ExecutableVersionBlock, StringsAreTheSixNamesInAJapaneseUnicodeTable) {
    ExpectVersionStrings(Only(kRtVersion, 1));
}

// ---- Manifest --------------------------------------------------------------------------

using ExecutableManifest = Executable;

TEST_F(ExecutableManifest, IsTheManifestFileByteForByteInJapanese) {
    const Resource& res = Only(kRtManifest, 1);
    EXPECT_EQ(res.languageId, kJapanese);
    const Bytes expected = ReadBytes(P2_SOURCE_DIR "/resources/Pelorin2.manifest");
    ASSERT_GE(expected.size(), 3u);
    ASSERT_EQ(expected[0], 0xEF) << "the manifest file has lost its byte-order mark";
    EXPECT_EQ(res.data, expected);
    const std::string text(expected.begin(), expected.end());
    EXPECT_NE(text.find("processorArchitecture=\"x86\""), std::string::npos)
        << "the manifest must name the machine the program is built for";
    EXPECT_EQ(FindResources(image_.resources, kRtManifest, 2).size(), 0u)
        << "a second manifest would compete with the elevation request";
}

// ---- Icon ------------------------------------------------------------------------------

using ExecutableIcon = Executable;

TEST_F(ExecutableIcon, GroupOneHoldsThreeImagesOfTheRightShape) {
    struct Shape {
        int size;
        int colours;
        int bitCount;
    };
    constexpr Shape kShapes[] = {{32, 2, 1}, {32, 16, 4}, {16, 16, 4}};

    const Bytes& group = Only(kRtGroupIcon, 1).data;
    ASSERT_EQ(group.size(), 6u + 3 * 14);
    EXPECT_EQ(Le16(group, 2), 1) << "an icon, not a cursor";
    ASSERT_EQ(Le16(group, 4), 3);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE("image " + std::to_string(i));
        const std::size_t entry = 6 + 14 * i;
        const Shape& shape = kShapes[i];
        EXPECT_EQ(group[entry], shape.size);
        EXPECT_EQ(group[entry + 1], shape.size);
        EXPECT_EQ(group[entry + 2], shape.colours);
        EXPECT_EQ(Le16(group, entry + 6), shape.bitCount);

        // The group names each image by its identifier; in a program file the image must be
        // there under that identifier, or the platform shows a blank icon.
        const Resource& image = Only(kRtIcon, Le16(group, entry + 12));
        ASSERT_EQ(image.data.size(), Le32(group, entry + 8));
        ASSERT_GE(image.data.size(), 40u);
        EXPECT_EQ(Le32(image.data, 4), static_cast<std::uint32_t>(shape.size));
        EXPECT_EQ(Le16(image.data, 14), shape.bitCount);
    }
}

// ---- The resource section as a whole -------------------------------------------------------

TEST_F(Executable, CarriesOnlyTheIdentityResourcesAllInJapanese) {
    for (const Resource& res : image_.resources) {
        ASSERT_TRUE(res.type.isOrdinal);
        EXPECT_EQ(res.languageId, kJapanese) << "type " << res.type.ordinal;
        EXPECT_TRUE(res.type.ordinal == kRtIcon || res.type.ordinal == kRtGroupIcon ||
                    res.type.ordinal == kRtVersion || res.type.ordinal == kRtManifest)
            << "unexpected resource type " << res.type.ordinal;
    }
    EXPECT_EQ(image_.resources.size(), 6u) << "three images, their group, version, manifest";
}

// ---- The reader itself -------------------------------------------------------------------

// A damaged or cut file must be refused with an error, not read out of bounds.
TEST_F(Executable, ReaderRefusesCutAndForeignFiles) {
    EXPECT_THROW(ReadPeImage({}), std::runtime_error);
    EXPECT_THROW(ReadPeImage(ReadBytes(P2_SOURCE_DIR "/resources/Pelorin2.manifest")),
                 std::runtime_error);
    const std::size_t pe = Le32(file_, 0x3C);
    // The manifest lies in the resource section, which the reader reads last.
    const Bytes manifest = ReadBytes(P2_SOURCE_DIR "/resources/Pelorin2.manifest");
    const auto inManifest =
        std::search(file_.begin(), file_.end(), manifest.begin(), manifest.end()) - file_.begin() +
        static_cast<std::ptrdiff_t>(manifest.size() / 2);
    ASSERT_LT(static_cast<std::size_t>(inManifest), file_.size());
    for (std::size_t cut :
         {std::size_t{0x40}, pe + 2, pe + 30, pe + 200, static_cast<std::size_t>(inManifest)}) {
        const Bytes part(file_.begin(), file_.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_THROW(ReadPeImage(part), std::runtime_error) << "cut at " << cut;
    }
    Bytes noSignature = file_;
    noSignature[pe] = 'X';
    EXPECT_THROW(ReadPeImage(noSignature), std::runtime_error);
}

}  // namespace
}  // namespace p2::test
