// The script host's shell object, asked for the start-up folders.
#pragma once

#include <memory>
#include <string>

namespace p2 {

class ScriptShell {
  public:
    virtual ~ScriptShell() = default;
    // "AllUsersStartup" or "Startup": the folder's full path without a trailing separator.
    // Throws AppError when the folder cannot be obtained.
    virtual std::string SpecialFolders(const std::string& name) = 0;
};

class ScriptHost {
  public:
    virtual ~ScriptHost() = default;
    // Throws AppError (429) when the shell object cannot be created.
    virtual std::unique_ptr<ScriptShell> CreateShell() = 0;
};

}  // namespace p2
