// Command lines as Windows reads and writes them, for the launcher's argument text and for
// starting Access by the command the registry holds.
#pragma once

#include <string>
#include <vector>

namespace p2::posix {

// Splits a command line by the rules of CommandLineToArgvW.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);
// The argument text: each argument that is empty or holds a blank or tab in double quotes,
// joined by one blank.
std::string JoinArguments(const std::vector<std::string>& arguments);

}  // namespace p2::posix
