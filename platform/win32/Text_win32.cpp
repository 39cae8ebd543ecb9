// UTF-8 to UTF-16 and the ANSI code page and back: the core speaks UTF-8, Windows UTF-16, and
// the registry's and the ANSI calls' bytes are in the ANSI code page (932 on Japanese Windows).
#include <string>

#include "platform/Error.h"
#include "platform/win32/Api_win32.h"
#include "platform/win32/Text_win32.h"

namespace p2::win32 {
namespace {

int Length(size_t size) {
    if (size > 0x3FFFFFFF) {
        throw AppError(kErrOverflow);
    }
    return static_cast<int>(size);
}

std::wstring ToWide(UINT codePage, DWORD flags, std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int n =
        MultiByteToWideChar(codePage, flags, text.data(), Length(text.size()), nullptr, 0);
    if (n <= 0) {
        throw AppError(kErrInvalidArgument);
    }
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), Length(text.size()), wide.data(), n);
    return wide;
}

std::string FromWide(UINT codePage, std::wstring_view text, bool* exact) {
    if (exact) {
        *exact = true;
    }
    if (text.empty()) {
        return {};
    }
    // The UTF code pages represent every character and refuse both the flag and the report;
    // the ANSI code page is one of them when Windows is set to "Use Unicode UTF-8". Elsewhere
    // a character without a code of its own would silently become a look-alike (é as e):
    // text that names a key or a file must never turn into another name, so it becomes the
    // default character, which the report then counts.
    const UINT actual = codePage == CP_ACP ? GetACP() : codePage;
    const bool utf = actual == CP_UTF8 || actual == CP_UTF7;
    const DWORD flags = utf ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* report = utf ? nullptr : &usedDefault;
    const int n = WideCharToMultiByte(codePage, flags, text.data(), Length(text.size()), nullptr, 0,
                                      nullptr, report);
    if (n <= 0) {
        throw AppError(kErrInvalidArgument);
    }
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, flags, text.data(), Length(text.size()), out.data(), n, nullptr,
                        nullptr);
    if (exact && usedDefault) {
        *exact = false;
    }
    return out;
}

}  // namespace

std::wstring Widen(std::string_view text) {
    return ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, text);
}

std::string Narrow(std::wstring_view text) {
    return FromWide(CP_UTF8, text, nullptr);
}

std::string ToAnsi(std::string_view text, bool* exact) {
    return FromWide(CP_ACP, Widen(text), exact);
}

std::string FromAnsi(std::string_view text) {
    return Narrow(ToWide(CP_ACP, 0, text));
}

}  // namespace p2::win32
