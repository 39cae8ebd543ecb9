// The ports on Linux, with stand-ins of our own for the Windows services.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/ports/Ports.h"

namespace p2::posix {

class PassFacts;

class PosixApplication final : public Application {
  public:
    explicit PosixApplication(std::vector<std::string> arguments);
    ~PosixApplication() override;
    void SetTitle(const std::string& title) override;
    bool PrevInstance() override;
    std::string ProgramFolder() override;
    std::string ArgumentText() override;
    void MessageBox(const std::string& text, MessageStyle style) override;

  private:
    std::vector<std::string> arguments_;
    std::string title_;
    int instanceLock_ = -1;
    std::string programFolder_;  // the executable's folder, once found
};

// The file and file-operation ports share what one update pass saw of its files; each
// has its own unless given one.
class PosixFiles final : public Files {
  public:
    PosixFiles();
    explicit PosixFiles(std::shared_ptr<PassFacts> facts);
    char Separator() const override { return '/'; }
    std::string Lookup(const std::string& path, int attributes) override;
    std::vector<std::string> ListFiles(const std::string& folder) override;
    int64_t ModificationTime(const std::string& path) override;
    void DeleteFile(const std::string& path) override;

  private:
    std::shared_ptr<PassFacts> facts_;
};

class PosixShellFileOperation final : public ShellFileOperation {
  public:
    PosixShellFileOperation();
    explicit PosixShellFileOperation(std::shared_ptr<PassFacts> facts);
    int32_t Run(const FileOpRequest& request) override;

  private:
    std::shared_ptr<PassFacts> facts_;
};

class PosixScriptHost final : public ScriptHost {
  public:
    std::unique_ptr<ScriptShell> CreateShell() override;
};

class PosixProcess final : public Process {
  public:
    int64_t Shell(const std::string& commandLine, WindowStyle style) override;
};

}  // namespace p2::posix
