// Real files in a fresh folder per test: a workgroup file with one account, databases made
// with SQLite directly, and the engine under test.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "platform/Error.h"
#include "platform/posix/SqliteEngine_posix.h"
#include "platform/posix/WorkgroupFile_posix.h"

namespace p2::posix::test {

inline constexpr const char* kUser = "Tester";
inline constexpr const char* kPassword = "s3cret Pass";

// The error number a statement raised; 0 when it raised none.
template <class Step>
int32_t NumberOf(Step&& step) {
    try {
        step();
        return 0;
    } catch (const AppError& e) {
        return e.number();
    }
}

class EngineFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "p2engine.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        wgf_ = Path("Pelorin2.wgf");
        CreateWorkgroupFile(wgf_);
        AddWorkgroupAccount(wgf_, kUser, kPassword);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    // A database made by SQLite itself from `sql`.
    std::string MakeDatabase(const std::string& name, const std::string& sql) {
        const std::string path = Path(name);
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        char* message = nullptr;
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
            << (message ? message : "");
        sqlite3_free(message);
        sqlite3_close(db);
        return path;
    }

    std::string MakeFile(const std::string& name, const std::string& bytes) {
        const std::string path = Path(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    static std::string ReadBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::set<std::string> Listing() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    DBEngine& Engine(const std::string& user = kUser, const std::string& password = kPassword) {
        DBEngine& engine = service_.Engine();
        engine.SetSystemDB(wgf_);
        engine.SetDefaultUser(user);
        engine.SetDefaultPassword(password);
        return engine;
    }

    std::string dir_;
    std::string wgf_;
    SqliteDatabaseService service_;
};

}  // namespace p2::posix::test
