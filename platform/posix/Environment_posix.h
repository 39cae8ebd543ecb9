// Where the stand-ins live: the configuration folders of the system and of the acting user
// (pkexec aware).
#pragma once

#include <sys/types.h>

#include <string>

namespace p2::posix {

// The variable's value; empty when unset.
std::string Env(const char* name);
// First entry of XDG_CONFIG_DIRS, /etc/xdg when unset or empty.
std::string SystemConfigDir();

// The user the program acts for: under pkexec the user who asked for elevation
// (PKEXEC_UID), otherwise the real user.
uid_t ActingUser();

// The acting user's configuration home: $XDG_CONFIG_HOME, else $HOME/.config; under pkexec
// that user's home from the password database.
std::string UserConfigDir();

}  // namespace p2::posix
