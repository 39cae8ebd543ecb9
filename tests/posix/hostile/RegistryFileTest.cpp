// Registry files that are huge, garbage or cut short: the defined message or the launch,
// never a crash.
#include <gtest/gtest.h>

#include <string>

#include "HostileSupport.h"

namespace p2::hostile {
namespace {

constexpr std::size_t kTenMegabytes = std::size_t{10} << 20;

class HostileRegistry : public ::testing::Test {
  protected:
    void SetUp() override { Sandbox::MakeDatabase(sb.Program() + "/main.mdb", "1"); }

    // The registry the sandbox starts with: probe key and Access's open command.
    std::string Valid() const { return Sandbox::ReadFile(sb.RegistryFile()); }

    void ExpectRestricted(const RunResult& r) {
        ExpectCleanExit(r);
        EXPECT_EQ(r.err, Box("exclamation", RestrictedAccountMessage()));
        EXPECT_TRUE(sb.AccessArguments(false).empty());
    }

    Sandbox sb;
};

TEST_F(HostileRegistry, TenMegabytesOfValidKeysStillLaunch) {
    const std::string valid = Valid();
    std::string text = valid;
    for (int i = 0; text.size() < kTenMegabytes; ++i) {
        text += "\r\n[HKEY_CURRENT_USER\\Software\\Filler\\Key" + std::to_string(i) +
                "]\r\n\"Text\"=\"" + std::string(200, 'x') +
                "\"\r\n\"Bytes\"=hex:01,02,03,\\\r\n  04,05\r\n\"Number\"=dword:0000002a\r\n";
    }
    sb.WriteRegistryText(text);
    const RunResult r = sb.Run({"main.mdb"});
    ExpectCleanExit(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(sb.AccessArguments(true).size(), 8u);
}

TEST_F(HostileRegistry, TenMegabytesOfGarbageHoldNoKeys) {
    sb.WriteRegistryText(RandomBytes(kTenMegabytes, 5));
    ExpectRestricted(sb.Run({"main.mdb"}));
}

TEST_F(HostileRegistry, ValidFileWithGarbageAppendedHoldsNoKeys) {
    sb.WriteRegistryText(Valid() + RandomBytes(kTenMegabytes, 9));
    ExpectRestricted(sb.Run({"main.mdb"}));
}

TEST_F(HostileRegistry, ValueLineCutInHalfHoldsNoKeys) {
    const std::string valid = Valid();
    const auto value = valid.find("@=\"");
    ASSERT_NE(value, std::string::npos);
    const auto lineEnd = valid.find('\n', value);
    const std::string cut = valid.substr(0, value + (lineEnd - value) / 2);
    sb.WriteRegistryText(cut);
    ExpectRestricted(sb.Run({"main.mdb"}));

    // A continued hex list that ends with its continuation.
    sb.WriteRegistryText(valid + "[HKEY_CURRENT_USER\\K]\r\n\"B\"=hex:41,42,\\\r\n");
    ExpectRestricted(sb.Run({"main.mdb"}));
}

}  // namespace
}  // namespace p2::hostile
