// The ports on 32-bit Windows: the real Win32 services that the program was written for.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ports/Ports.h"

namespace p2::win32 {

class Win32Application final : public Application {
  public:
    Win32Application();
    ~Win32Application() override;
    Win32Application(const Win32Application&) = delete;
    Win32Application& operator=(const Win32Application&) = delete;
    void SetTitle(const std::string& title) override;
    // Owns the instance mutex from the first call to the end of the object's life.
    bool PrevInstance() override;
    std::string ProgramFolder() override;
    std::string ArgumentText() override;
    void MessageBox(const std::string& text, MessageStyle style) override;

  private:
    std::wstring title_;
    void* instanceMutex_ = nullptr;
    bool instanceTested_ = false;
    bool prevInstance_ = false;
};

class Win32Files final : public Files {
  public:
    char Separator() const override { return '\\'; }
    std::string Lookup(const std::string& path, int attributes) override;
    std::vector<std::string> ListFiles(const std::string& folder) override;
    int64_t ModificationTime(const std::string& path) override;
    void DeleteFile(const std::string& path) override;
};

class Win32Registry final : public Registry {
  public:
    long OpenKey(uint32_t hive, const std::string& subKey, uint32_t access, RegKey& key) override;
    long QueryValue(RegKey key, const std::string& valueName, uint32_t& type, unsigned char* data,
                    uint32_t& size) override;
    long CloseKey(RegKey key) override;
    std::string DecodeText(std::string_view bytes) override;
};

class Win32ShellFileOperation final : public ShellFileOperation {
  public:
    // A delete or move whose source does not exist answers ERROR_FILE_NOT_FOUND without
    // calling the service, which would otherwise show an error box of its own. A move or
    // delete counts as done only when the files show it.
    int32_t Run(const FileOpRequest& request) override;
};

// The service's answer checked against the files after the call: non-zero unless the
// service said done, nothing was aborted, no source is left and (for a move) every
// destination is there.
int32_t ConfirmedResult(uint32_t func, int32_t result, bool aborted, bool sourceLeft,
                        bool destinationThere);

class Win32ScriptHost final : public ScriptHost {
  public:
    std::unique_ptr<ScriptShell> CreateShell() override;
};

class Win32Process final : public Process {
  public:
    int64_t Shell(const std::string& commandLine, WindowStyle style) override;
};

// The DAO 3.6 engine ("DAO.DBEngine.36") through late binding.
class Win32DatabaseService final : public DatabaseService {
  public:
    // A read-only service opens every database with DAO's ReadOnly argument set.
    explicit Win32DatabaseService(bool readOnly = false);
    ~Win32DatabaseService() override;
    DBEngine& Engine() override;
    bool HasDatabaseSignature(const std::string& path) override;

  private:
    bool readOnly_;
    std::unique_ptr<DBEngine> engine_;
};

// The answer of the instance test, from CreateMutexW's result and last error. A mutex that
// exists but may not be opened belongs to an instance with more rights than ours.
bool AnotherInstanceRuns(bool created, unsigned long lastError);

}  // namespace p2::win32
