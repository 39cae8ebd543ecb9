// The registry file read as regedit writes it: values, escapes, encodings and damaged input.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/posix/Registry_posix.h"

namespace p2::posix {
namespace {

const std::string kV5 = "Windows Registry Editor Version 5.00\n";
const std::string kV4 = "REGEDIT4\n";

std::string Bytes(std::initializer_list<int> bytes) {
    std::string out;
    for (int b : bytes) {
        out.push_back(static_cast<char>(b));
    }
    return out;
}

// Text as a string value holds it: with its terminator.
std::string Sz(const std::string& text) {
    return text + '\0';
}

// The value's bytes, or "<none>" when the file does not hold it.
std::string ValueOf(const RegistryData& data, const std::string& key, const std::string& name,
                    uint32_t* type = nullptr) {
    const RegistryValue* value = data.FindValue(key, name);
    if (value == nullptr) {
        return "<none>";
    }
    if (type != nullptr) {
        *type = value->type;
    }
    return value->data;
}

const std::string kKey = "HKEY_LOCAL_MACHINE\\Soft";

TEST(RegistryParseValues, StringWithEscapesIsStoredAsUtf8WithTerminator) {
    const RegistryData data =
        ParseRegistry(kV5 + "[HKEY_LOCAL_MACHINE\\Soft]\n\"Path\"=\"C:\\\\a \\\"b\\\" ペロ\"\n");
    uint32_t type = 0;
    EXPECT_EQ(ValueOf(data, kKey, "Path", &type), Sz("C:\\a \"b\" ペロ"));
    EXPECT_EQ(type, kRegTypeSz);
}

TEST(RegistryParseValues, EmptyStringIsJustTheTerminator) {
    const RegistryData data = ParseRegistry(kV5 + "[HKEY_LOCAL_MACHINE\\Soft]\n\"e\"=\"\"\n");
    EXPECT_EQ(ValueOf(data, kKey, "e"), std::string(1, '\0'));
}

TEST(RegistryParseValues, DefaultValueHasTheEmptyName) {
    const RegistryData data = ParseRegistry(kV5 + "[HKEY_LOCAL_MACHINE\\Soft]\n@=\"dflt\"\n");
    EXPECT_EQ(ValueOf(data, kKey, ""), Sz("dflt"));
}

TEST(RegistryParseValues, NameEscapesAreDecoded) {
    const RegistryData data =
        ParseRegistry(kV5 + "[HKEY_LOCAL_MACHINE\\Soft]\n\"a\\\\b\\\"c\"=\"x\"\n");
    EXPECT_EQ(ValueOf(data, kKey, "a\\b\"c"), Sz("x"));
}

TEST(RegistryParseValues, DwordIsFourLittleEndianBytes) {
    const RegistryData data = ParseRegistry(kV5 +
                                            "[HKEY_LOCAL_MACHINE\\Soft]\n"
                                            "\"n\"=dword:0000002a\n"
                                            "\"short\"=dword:1F\n"
                                            "\"max\"=dword:FFFFFFFF\n"
                                            "\"big\"=dword:12345678\n");
    uint32_t type = 0;
    EXPECT_EQ(ValueOf(data, kKey, "n", &type), Bytes({0x2a, 0, 0, 0}));
    EXPECT_EQ(type, kRegTypeDword);
    EXPECT_EQ(ValueOf(data, kKey, "short"), Bytes({0x1f, 0, 0, 0}));
    EXPECT_EQ(ValueOf(data, kKey, "max"), Bytes({0xff, 0xff, 0xff, 0xff}));
    EXPECT_EQ(ValueOf(data, kKey, "big"), Bytes({0x78, 0x56, 0x34, 0x12}));
}

TEST(RegistryParseValues, HexListsKeepTheirBytesAndType) {
    const RegistryData data = ParseRegistry(kV5 +
                                            "[HKEY_LOCAL_MACHINE\\Soft]\n"
                                            "\"bin\"=hex:41,42,00,ff\n"
                                            "\"typed\"=hex(b):01, 2 ,FE\n"
                                            "\"none\"=hex:\n"
                                            "\"sz\"=hex(1):41,00,42,00\n");
    uint32_t type = 0;
    EXPECT_EQ(ValueOf(data, kKey, "bin", &type), Bytes({0x41, 0x42, 0, 0xff}));
    EXPECT_EQ(type, kRegTypeBinary);
    EXPECT_EQ(ValueOf(data, kKey, "typed", &type), Bytes({1, 2, 0xfe}));
    EXPECT_EQ(type, 0xbu);
    EXPECT_EQ(ValueOf(data, kKey, "none", &type), "");
    EXPECT_EQ(type, kRegTypeBinary);
    // Only the two string-list types are converted from UTF-16.
    EXPECT_EQ(ValueOf(data, kKey, "sz", &type), Bytes({0x41, 0, 0x42, 0}));
    EXPECT_EQ(type, kRegTypeSz);
}

TEST(RegistryParseValues, HexListContinuesAfterBackslash) {
    const RegistryData data = ParseRegistry(kV5 +
                                            "[HKEY_LOCAL_MACHINE\\Soft]\r\n"
                                            "\"bin\"=hex:41,42,\\\r\n"
                                            "  43,\\  \r\n"
                                            "\t44\r\n"
                                            "\"lead\"=hex:\\\n"
                                            "  45\n"
                                            "\"after\"=\"ok\"\n");
    EXPECT_EQ(ValueOf(data, kKey, "bin"), "ABCD");
    EXPECT_EQ(ValueOf(data, kKey, "lead"), "E");
    EXPECT_EQ(ValueOf(data, kKey, "after"), Sz("ok"));
}

TEST(RegistryParseValues, UnicodeFileConvertsExpandAndMultiStringsToUtf8) {
    // "%A%" then a terminator; "x", "ペ" (U+30DA) and U+1F600 as a surrogate pair.
    const RegistryData data = ParseRegistry(kV5 +
                                            "[HKEY_LOCAL_MACHINE\\Soft]\n"
                                            "\"exp\"=hex(2):25,00,41,00,25,00,00,00\n"
                                            "\"multi\"=hex(7):78,00,00,00,da,30,00,00,3d,d8,"
                                            "00,de,00,00,00,00\n"
                                            "\"lone\"=hex(2):00,d8,41,00\n");
    uint32_t type = 0;
    EXPECT_EQ(ValueOf(data, kKey, "exp", &type), Sz("%A%"));
    EXPECT_EQ(type, kRegTypeExpandSz);
    EXPECT_EQ(ValueOf(data, kKey, "multi", &type), std::string("x\0ペ\0\xF0\x9F\x98\x80\0\0", 12));
    EXPECT_EQ(type, kRegTypeMultiSz);
    EXPECT_EQ(ValueOf(data, kKey, "lone"),
              "\xEF\xBF\xBD"
              "A");
}

TEST(RegistryParseValues, Regedit4FileTakesExpandStringBytesAsGiven) {
    const RegistryData data =
        ParseRegistry(kV4 + "[HKEY_LOCAL_MACHINE\\Soft]\n\"exp\"=hex(2):25,41,25,00\n");
    EXPECT_EQ(ValueOf(data, kKey, "exp"), Sz("%A%"));
}

TEST(RegistryParseSyntax, ByteOrderMarkCrLfCommentsAndBlanks) {
    const RegistryData data = ParseRegistry(
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
        "\r\n"
        "; a comment [HKEY_LOCAL_MACHINE\\Nope]\r\n"
        "   \t\r\n"
        "[HKEY_CLASSES_ROOT\\Access.Application.10\\shell\\open\\command]\r\n"
        "  ; indented comment\r\n"
        "@=\"\\\"/opt/MSACCESS.EXE\\\" /NOSTARTUP \\\"%1\\\"\"\r\n");
    EXPECT_EQ(ValueOf(data, "HKEY_CLASSES_ROOT\\Access.Application.10\\shell\\open\\command", ""),
              Sz("\"/opt/MSACCESS.EXE\" /NOSTARTUP \"%1\""));
    EXPECT_FALSE(data.HasKey("HKEY_LOCAL_MACHINE\\Nope"));
}

std::string Utf16Le(const std::u16string& text) {
    std::string out = "\xFF\xFE";
    for (const char16_t unit : text) {
        out += static_cast<char>(unit & 0xFF);
        out += static_cast<char>(unit >> 8);
    }
    return out;
}

// As regedit exports: UTF-16LE with its byte-order mark and CR LF. Other encodings, and
// UTF-16 that is not well formed, hold no keys.
TEST(RegistryParseSyntax, Utf16LittleEndianWithByteOrderMarkIsRead) {
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_USERS\\ペロ]\r\n\"v\"=\"Ⅱ\"\r\n";
    EXPECT_EQ(ValueOf(ParseRegistry(Utf16Le(text)), "HKEY_USERS\\ペロ", "v"), Sz("Ⅱ"));
    const std::string good = Utf16Le(text);
    for (const std::string& bad : {
             good.substr(2),                   // no byte-order mark
             "\xFE\xFF" + good.substr(2),      // the big-endian mark
             good + "\n",                      // an odd byte count
             Utf16Le(text + u"; \xD800\r\n"),  // a lone surrogate
         }) {
        EXPECT_TRUE(ParseRegistry(bad).keys.empty());
    }
}

TEST(RegistryParseSyntax, Regedit4HeaderIsAccepted) {
    const RegistryData data = ParseRegistry("REGEDIT4\r\n\r\n[HKEY_USERS\\A]\r\n\"v\"=\"1\"\r\n");
    EXPECT_EQ(ValueOf(data, "HKEY_USERS\\A", "v"), Sz("1"));
}

TEST(RegistryParseSyntax, NamesCompareWithoutRegardToCase) {
    const RegistryData data = ParseRegistry(kV5 +
                                            "[hkey_local_machine\\SOFTWARE\\Maker]\n"
                                            "\"Value\"=\"first\"\n"
                                            "[HKEY_LOCAL_MACHINE\\software\\maker]\n"
                                            "\"VALUE\"=\"second\"\n");
    EXPECT_TRUE(data.HasKey("Hkey_Local_Machine\\Software\\MAKER"));
    EXPECT_EQ(ValueOf(data, "HKEY_LOCAL_MACHINE\\Software\\Maker", "value"), Sz("second"));
    EXPECT_EQ(data.keys.size(), 1u);
}

TEST(RegistryParseSyntax, DuplicateKeysMergeAndLaterValuesWin) {
    const RegistryData data = ParseRegistry(kV5 +
                                            "[HKEY_LOCAL_MACHINE\\Soft]\n"
                                            "\"a\"=\"1\"\n"
                                            "\"b\"=\"2\"\n"
                                            "[HKEY_LOCAL_MACHINE\\Other]\n"
                                            "[HKEY_LOCAL_MACHINE\\Soft]\n"
                                            "\"b\"=dword:00000003\n");
    EXPECT_EQ(ValueOf(data, kKey, "a"), Sz("1"));
    EXPECT_EQ(ValueOf(data, kKey, "b"), Bytes({3, 0, 0, 0}));
}

TEST(RegistryParseSyntax, ParentKeysExistImplicitly) {
    const RegistryData data =
        ParseRegistry(kV5 + "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet]\n");
    EXPECT_TRUE(data.HasKey("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet"));
    EXPECT_TRUE(data.HasKey("HKEY_LOCAL_MACHINE\\SYSTEM"));
    EXPECT_TRUE(data.HasKey("HKEY_LOCAL_MACHINE"));
    EXPECT_FALSE(data.HasKey("HKEY_LOCAL_MACHINE\\SYS"));
    EXPECT_FALSE(data.HasKey("HKEY_LOCAL_MACHINE\\SYSTEM\\Current"));
    EXPECT_FALSE(data.HasKey("HKEY_CLASSES_ROOT"));
}

TEST(RegistryParseSyntax, DeletedKeysTakeTheirSubKeysButNotTheirParent) {
    const RegistryData data = ParseRegistry(kV5 +
                                            "[HKEY_LOCAL_MACHINE\\A\\B]\n"
                                            "\"v\"=\"1\"\n"
                                            "[HKEY_LOCAL_MACHINE\\A\\B\\C]\n"
                                            "[HKEY_LOCAL_MACHINE\\A\\B2]\n"
                                            "[-HKEY_LOCAL_MACHINE\\a\\b]\n"
                                            "[-HKEY_LOCAL_MACHINE\\Never]\n"
                                            "[HKEY_CURRENT_USER\\X\\Y]\n"
                                            "[-HKEY_CURRENT_USER\\X\\Y]\n");
    EXPECT_FALSE(data.HasKey("HKEY_LOCAL_MACHINE\\A\\B"));
    EXPECT_FALSE(data.HasKey("HKEY_LOCAL_MACHINE\\A\\B\\C"));
    EXPECT_EQ(ValueOf(data, "HKEY_LOCAL_MACHINE\\A\\B", "v"), "<none>");
    EXPECT_TRUE(data.HasKey("HKEY_LOCAL_MACHINE\\A\\B2"));
    EXPECT_FALSE(data.HasKey("HKEY_LOCAL_MACHINE\\Never"));
    EXPECT_TRUE(data.HasKey("HKEY_CURRENT_USER\\X"));
}

TEST(RegistryParseSyntax, KeyCanBeListedAgainAfterItsDeletion) {
    const RegistryData data = ParseRegistry(kV5 +
                                            "[HKEY_LOCAL_MACHINE\\Soft]\n"
                                            "\"old\"=\"1\"\n"
                                            "[-HKEY_LOCAL_MACHINE\\Soft]\n"
                                            "[HKEY_LOCAL_MACHINE\\Soft]\n"
                                            "\"new\"=\"2\"\n");
    EXPECT_EQ(ValueOf(data, kKey, "old"), "<none>");
    EXPECT_EQ(ValueOf(data, kKey, "new"), Sz("2"));
}

TEST(RegistryParseSyntax, DeletedValuesAreGone) {
    const RegistryData data = ParseRegistry(kV5 +
                                            "[HKEY_LOCAL_MACHINE\\Soft]\n"
                                            "\"a\"=\"1\"\n"
                                            "\"b\"=\"2\"\n"
                                            "@=\"d\"\n"
                                            "\"A\"=-\n"
                                            "@=-\n"
                                            "\"missing\"=-\n");
    EXPECT_EQ(ValueOf(data, kKey, "a"), "<none>");
    EXPECT_EQ(ValueOf(data, kKey, ""), "<none>");
    EXPECT_EQ(ValueOf(data, kKey, "b"), Sz("2"));
}

TEST(RegistryParseSyntax, HeaderAloneHoldsNoKeys) {
    EXPECT_TRUE(ParseRegistry(kV5).keys.empty());
    EXPECT_TRUE(ParseRegistry("REGEDIT4").keys.empty());
}

// Each line spoils a file that is otherwise good: none of it may be taken.
class RegistryParseMalformed : public testing::TestWithParam<const char*> {};

TEST_P(RegistryParseMalformed, WholeFileHoldsNoKeys) {
    const std::string good = "[HKEY_LOCAL_MACHINE\\Good]\n\"v\"=\"1\"\n";
    ASSERT_FALSE(ParseRegistry(kV5 + good).keys.empty());
    EXPECT_TRUE(ParseRegistry(kV5 + good + GetParam() + "\n").keys.empty());
    EXPECT_TRUE(ParseRegistry(kV5 + GetParam() + "\n" + good).keys.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RegistryParseMalformed,
    testing::Values(
        "[HKEY_LOCAL_MACHINE\\Broken", "HKEY_LOCAL_MACHINE\\Broken]", "[]", "[-]",
        "[HKEY_NOWHERE\\A]", "[HKLM\\A]", "[HKEY_LOCAL_MACHINE\\\\A]", "[HKEY_LOCAL_MACHINE\\A\\]",
        "[ HKEY_LOCAL_MACHINE\\A]", "[HKEY_LOCAL_MACHINE\\A]\n\"v\"",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v\"\"x\"", "[HKEY_LOCAL_MACHINE\\A]\nv=\"x\"",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=", "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"abc",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v=\"abc\"", "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"a\\qb\"",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"ab\\\"", "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"a\" b",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:", "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:123456789",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:0000002g", "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:-1",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:4g", "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:414",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:41 42", "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:41,",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:41,,42", "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:41\\",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:41,\\ x", "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex(:41",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex():41", "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex(2:41",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex(123456789):41",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex(2):41,00,42",
        "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=str:\"x\"", "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=- x",
        "[HKEY_LOCAL_MACHINE\\A]\n@", "[-HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"after a deleted key\""));

TEST(RegistryParseMalformedFile, HeaderMustOpenTheFile) {
    const std::string body = "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"1\"\n";
    EXPECT_TRUE(ParseRegistry("").keys.empty());
    EXPECT_TRUE(ParseRegistry(body).keys.empty());
    EXPECT_TRUE(ParseRegistry("\n" + kV5 + body).keys.empty());
    EXPECT_TRUE(ParseRegistry("; comment\n" + kV5 + body).keys.empty());
    EXPECT_TRUE(ParseRegistry("Windows Registry Editor Version 4.00\n" + body).keys.empty());
    EXPECT_TRUE(ParseRegistry("regedit4\n" + body).keys.empty());
    EXPECT_TRUE(ParseRegistry("\xEF\xBB" + kV5 + body).keys.empty());
    EXPECT_FALSE(ParseRegistry(kV5 + body).keys.empty());
}

TEST(RegistryParseMalformedFile, ValueBeforeAnyKey) {
    EXPECT_TRUE(ParseRegistry(kV5 + "\"v\"=\"1\"\n[HKEY_LOCAL_MACHINE\\A]\n").keys.empty());
    EXPECT_TRUE(ParseRegistry(kV5 + "@=\"1\"\n[HKEY_LOCAL_MACHINE\\A]\n").keys.empty());
}

TEST(RegistryParseMalformedFile, ContinuationCutOffAtEndOfFile) {
    const std::string start = kV5 + "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:41,\\";
    EXPECT_TRUE(ParseRegistry(start).keys.empty());
    EXPECT_TRUE(ParseRegistry(start + "\n").keys.empty());
    EXPECT_TRUE(ParseRegistry(start + "\r\n").keys.empty());
    EXPECT_FALSE(ParseRegistry(start + "\n42").keys.empty());
}

// Arbitrary bytes and mutations of a good file must come back, whole or empty.
TEST(RegistryParseRobustness, MutatedFilesNeverBreakTheReader) {
    const std::string sample = "\xEF\xBB\xBF" + kV5 +
                               "[HKEY_LOCAL_MACHINE\\A\\B]\r\n@=\"x\\\\y\\\"z\"\r\n"
                               "\"d\"=dword:0000002a\r\n\"h\"=hex(7):41,00,\\\r\n  00,00\r\n"
                               "[-HKEY_LOCAL_MACHINE\\A]\r\n\"n\"=-\r\n";
    const std::string alphabet = "[]\\\"=@:-,;(){}\r\n\t 0aAfFxX\xEF\xBB\xBF\xD8\xFF";
    std::mt19937 random(12345);
    for (int round = 0; round < 3000; ++round) {
        std::string text = sample;
        const int edits = 1 + static_cast<int>(random() % 6);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % (text.size() + 1);
            const char c = alphabet[random() % alphabet.size()];
            switch (random() % 3) {
                case 0:
                    text.insert(at, 1, c);
                    break;
                case 1:
                    if (at < text.size()) {
                        text.erase(at, 1);
                    }
                    break;
                default:
                    if (at < text.size()) {
                        text[at] = c;
                    }
                    break;
            }
        }
        const RegistryData data = ParseRegistry(text);
        for (const auto& [path, values] : data.keys) {
            EXPECT_TRUE(path.starts_with("hkey_")) << path;
        }
    }
}

TEST(RegistryParseRobustness, DeepAndWideInputs) {
    std::string deep = kV5 + "[HKEY_CURRENT_USER";
    for (int i = 0; i < 20000; ++i) {
        deep += "\\k";
    }
    deep += "]\n";
    const RegistryData data = ParseRegistry(deep);
    EXPECT_TRUE(data.HasKey("HKEY_CURRENT_USER\\k\\k\\k"));

    std::string wide = kV5 + "[HKEY_CURRENT_USER\\W]\n\"v\"=hex:00";
    for (int i = 0; i < 50000; ++i) {
        wide += ",\\\n ff";
    }
    EXPECT_EQ(ValueOf(ParseRegistry(wide + "\n"), "HKEY_CURRENT_USER\\W", "v").size(), 50001u);
}

}  // namespace
}  // namespace p2::posix
