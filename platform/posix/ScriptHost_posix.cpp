// The script host on Linux: the XDG autostart folders stand for the start-up folders.
#include <memory>
#include <string>

#include "platform/Error.h"
#include "platform/posix/Environment_posix.h"
#include "platform/posix/Ports_posix.h"

namespace p2::posix {
namespace {

// The autostart folders of the desktop stand for the Windows start-up folders.
class PosixScriptShell final : public ScriptShell {
  public:
    std::string SpecialFolders(const std::string& name) override {
        if (name == "AllUsersStartup") {
            return SystemConfigDir() + "/autostart";
        }
        if (name == "Startup") {
            return UserConfigDir() + "/autostart";
        }
        throw AppError(kErrInvalidArgument);
    }
};

}  // namespace

std::unique_ptr<ScriptShell> PosixScriptHost::CreateShell() {
    return std::make_unique<PosixScriptShell>();
}

}  // namespace p2::posix
