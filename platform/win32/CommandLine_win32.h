// The command line as Windows hands it over: the program's name and the argument text after it.
#pragma once

#include <string>
#include <string_view>

namespace p2::win32 {

// The first item of a command line by the rules of CommandLineToArgvW for the program name.
std::wstring ProgramNameOf(std::wstring_view commandLine);
// What follows the program's name and the one blank after it.
std::wstring ArgumentsOf(std::wstring_view commandLine);
// The same, except that a command line that starts with the program's own path unquoted
// (letter case aside) loses exactly that path, blanks in it included.
std::wstring ArgumentsOf(std::wstring_view commandLine, std::wstring_view modulePath);

}  // namespace p2::win32
