// Where the stand-ins live: the configuration folders of the system and of the acting user (pkexec
// aware).
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/posix/Environment_posix.h"

namespace p2::posix {
namespace {

bool Elevated() {
    return geteuid() == 0 && !Env("PKEXEC_UID").empty();
}

std::string HomeOf(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_dir) {
        throw AppError(kErrPathNotFound);
    }
    return found->pw_dir;
}

}  // namespace

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string SystemConfigDir() {
    const std::string dirs = Env("XDG_CONFIG_DIRS");
    const std::string first = dirs.substr(0, dirs.find(':'));
    return first.empty() ? std::string("/etc/xdg") : first;
}

uid_t ActingUser() {
    if (Elevated()) {
        const std::string text = Env("PKEXEC_UID");
        char* end = nullptr;
        errno = 0;
        const unsigned long uid = std::strtoul(text.c_str(), &end, 10);
        if (errno == 0 && end && *end == '\0') {
            return static_cast<uid_t>(uid);
        }
    }
    return getuid();
}

std::string UserConfigDir() {
    // pkexec clears the environment: the asking user's folders come from their account.
    if (Elevated()) {
        return HomeOf(ActingUser()) + "/.config";
    }
    const std::string configHome = Env("XDG_CONFIG_HOME");
    if (!configHome.empty() && configHome[0] == '/') {
        return configHome;
    }
    const std::string home = Env("HOME");
    return (home.empty() ? HomeOf(getuid()) : home) + "/.config";
}

}  // namespace p2::posix
