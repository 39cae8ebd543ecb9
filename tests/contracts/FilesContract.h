// The file port as every implementation must answer: lookup by mask, listing, times and
// deletion, with the error numbers the core reads.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "contracts/ContractSupport.h"
#include "platform/ports/Files.h"

namespace p2::contract {

template <class World>
class FilesContract : public ::testing::Test {
  protected:
    World world;
    Files& files = world.files();
};

TYPED_TEST_SUITE_P(FilesContract);

TYPED_TEST_P(FilesContract, LookupAnswersByKindAndMask) {
    auto& w = this->world;
    const bool attributes = TypeParam::kHasAttributes;
    w.Write("plain.mdb", "x");
    w.Write("readonly.mdb", "x", kReadOnly);
    w.MakeFolder("folder.mdb");
    if (attributes) {
        w.Write("hidden.mdb", "x", kHidden);
        w.Write("system.mdb", "x", kSystem);
    }
    const struct {
        const char* name;
        int mask;
        const char* found;
        bool needsAttributes;
    } cases[] = {
        {"plain.mdb", kAttrNormal, "plain.mdb", false},
        {"plain.mdb", kAttrHidden, "plain.mdb", false},
        {"readonly.mdb", kAttrNormal, "readonly.mdb", false},
        {"hidden.mdb", kAttrNormal, "", true},
        {"hidden.mdb", kAttrHidden, "hidden.mdb", true},
        {"system.mdb", kAttrNormal, "", true},
        {"system.mdb", kAttrHidden, "", true},
        {"folder.mdb", kAttrHidden, "", false},
        {"missing.mdb", kAttrHidden, "", false},
    };
    for (const auto& c : cases) {
        if (c.needsAttributes && !attributes) {
            continue;
        }
        EXPECT_EQ(this->files.Lookup(w.Path(c.name), c.mask), c.found) << c.name << c.mask;
    }
    EXPECT_EQ(this->files.Lookup("", kAttrNormal), "");
    EXPECT_EQ(this->files.Lookup("", kAttrHidden), "");
}

TYPED_TEST_P(FilesContract, LookupNeverMatchesAPattern) {
    auto& w = this->world;
    w.Write("plain.mdb", "x");
    for (const char* pattern : {"*.mdb", "plain.md?", "?lain.mdb", "?.mdb", "*"}) {
        EXPECT_EQ(this->files.Lookup(w.Path(pattern), kAttrHidden), "") << pattern;
        EXPECT_EQ(this->files.Lookup(w.Path(pattern), kAttrNormal), "") << pattern;
    }
}

TYPED_TEST_P(FilesContract, LookupAnswersNamesOutsideTheAnsiCodePage) {
    this->world.Write("ペロリン更新.mdb", "x");
    EXPECT_EQ(this->files.Lookup(this->world.Path("ペロリン更新.mdb"), kAttrNormal),
              "ペロリン更新.mdb");
}

TYPED_TEST_P(FilesContract, ListingHoldsPlainAndHiddenFilesOnly) {
    auto& w = this->world;
    w.Write("b.txt", "x");
    w.Write("a.mdb", "x");
    w.Write("with space.txt", "x");
    w.Write("noext", "x");
    w.Write("h.sys", "x", kHidden);
    if (TypeParam::kHasAttributes) {
        w.Write("s.sys", "x", kHiddenSystem);
    }
    w.MakeFolder("sub");
    w.Write("sub/inner.txt", "x");
    std::vector<std::string> names = this->files.ListFiles(w.Path(""));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"a.mdb", "b.txt", "h.sys", "noext", "with space.txt"}));
}

TYPED_TEST_P(FilesContract, MissingOrEmptyFolderListsNothing) {
    auto& w = this->world;
    w.MakeFolder("empty");
    w.Write("file", "x");
    EXPECT_TRUE(this->files.ListFiles(w.Path("empty")).empty());
    EXPECT_TRUE(this->files.ListFiles(w.Path("missing")).empty());
    EXPECT_TRUE(this->files.ListFiles(w.Path("missing/deeper")).empty());
}

// Only a missing folder is an empty one: a folder that may not be read must stop the pass.
TYPED_TEST_P(FilesContract, FolderThatMayNotBeListedRaises70) {
    auto& w = this->world;
    // A world that cannot make such a folder need not offer DenyListing.
    if constexpr (!TypeParam::kCanDenyListing) {
        GTEST_SKIP() << TypeParam::kWhyNoDeniedListing;
    } else {
        w.MakeFolder("closed");
        w.Write("closed/inside", "x");
        w.DenyListing("closed");
        EXPECT_EQ(w.ErrorAsUser([&] { this->files.ListFiles(w.Path("closed")); }),
                  kErrPermissionDenied);
    }
}

// Whole seconds since the epoch, in UTC: the fraction is cut, not rounded.
TYPED_TEST_P(FilesContract, ModificationTimeIsWholeSecondsSinceTheEpoch) {
    auto& w = this->world;
    const struct {
        int64_t seconds;
        long nanoseconds;
    } cases[] = {{1234567890, 999999999}, {1577934245, 900000000}, {1500000000, 0}};
    for (const auto& c : cases) {
        w.Write("dated.txt", "x");
        w.SetTime("dated.txt", c.seconds, c.nanoseconds);
        EXPECT_EQ(this->files.ModificationTime(w.Path("dated.txt")), c.seconds);
    }
}

// A path below a file is a missing path too.
TYPED_TEST_P(FilesContract, ModificationTimeOfAMissingFileRaises53) {
    auto& w = this->world;
    w.Write("f", "x");
    for (const char* name : {"missing", "no/such", "f/below"}) {
        EXPECT_EQ(ErrorOf([&] { this->files.ModificationTime(w.Path(name)); }), kErrFileNotFound)
            << name;
    }
}

TYPED_TEST_P(FilesContract, DeleteRemovesTheFileThenAnswers53) {
    auto& w = this->world;
    w.Write("P2Installation.lnk", "x");
    EXPECT_EQ(ErrorOf([&] { this->files.DeleteFile(w.Path("P2Installation.lnk")); }), 0);
    EXPECT_FALSE(w.Exists("P2Installation.lnk"));
    EXPECT_EQ(ErrorOf([&] { this->files.DeleteFile(w.Path("P2Installation.lnk")); }),
              kErrFileNotFound);
}

// Read-only on Windows; in a folder without the right to write on Linux.
TYPED_TEST_P(FilesContract, DeleteOfAProtectedFileRaises70) {
    auto& w = this->world;
    w.Write("protected.lnk", "x");
    w.Protect("protected.lnk");
    EXPECT_EQ(w.ErrorAsUser([&] { this->files.DeleteFile(w.Path("protected.lnk")); }),
              kErrPermissionDenied);
    EXPECT_TRUE(w.Exists("protected.lnk"));
}

TYPED_TEST_P(FilesContract, DeleteOfAHeldFileRaises70UntilReleased) {
    auto& w = this->world;
    w.Write("held.ldb", "x");
    auto holder = w.Hold("held.ldb");
    ASSERT_TRUE(holder->ready);
    EXPECT_EQ(ErrorOf([&] { this->files.DeleteFile(w.Path("held.ldb")); }), kErrPermissionDenied);
    EXPECT_TRUE(w.Exists("held.ldb"));
    EXPECT_EQ(holder->Release(), 0);
    EXPECT_EQ(ErrorOf([&] { this->files.DeleteFile(w.Path("held.ldb")); }), 0);
    EXPECT_FALSE(w.Exists("held.ldb"));
}

REGISTER_TYPED_TEST_SUITE_P(FilesContract, LookupAnswersByKindAndMask, LookupNeverMatchesAPattern,
                            LookupAnswersNamesOutsideTheAnsiCodePage,
                            ListingHoldsPlainAndHiddenFilesOnly, MissingOrEmptyFolderListsNothing,
                            FolderThatMayNotBeListedRaises70,
                            ModificationTimeIsWholeSecondsSinceTheEpoch,
                            ModificationTimeOfAMissingFileRaises53,
                            DeleteRemovesTheFileThenAnswers53, DeleteOfAProtectedFileRaises70,
                            DeleteOfAHeldFileRaises70UntilReleased);

}  // namespace p2::contract
