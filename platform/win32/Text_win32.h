// UTF-8 to UTF-16 and the ANSI code page and back: the core speaks UTF-8, Windows UTF-16, and
// the registry's and the ANSI calls' bytes are in the ANSI code page (932 on Japanese Windows).
#pragma once

#include <string>
#include <string_view>

namespace p2::win32 {

// UTF-8 and UTF-16; invalid input raises AppError 5.
std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);
// UTF-8 to the ANSI code page; `exact` tells whether every character could be represented.
std::string ToAnsi(std::string_view text, bool* exact = nullptr);
std::string FromAnsi(std::string_view text);

}  // namespace p2::win32
