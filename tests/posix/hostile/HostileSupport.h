// What the hostile-input tests share: the box as it appears on standard error, and
// deterministic garbage.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "launcher/Main.h"
#include "platform/ErrorCatalogue.h"
#include "posix/support/Sandbox.h"

namespace p2::hostile {

using e2e::RunResult;
using e2e::Sandbox;

// A box on standard error without a display: title and kind, the text with LF line ends.
inline std::string Box(const std::string& kind, const std::string& text) {
    std::string lf;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\r\n") == 0) {
            ++i;
        }
        lf += text[i];
    }
    return "ペロリンⅡ [" + kind + "]\n" + lf + "\n";
}

inline std::string NotFoundBox() {
    return Box("exclamation", kNotFoundMessage);
}

inline std::string ErrorBox(int32_t number, const std::string& tag) {
    return Box("stop", ErrorBoxText(number, tag));
}

// The same bytes on every run, so that a failure can be replayed.
inline std::string RandomBytes(std::size_t size, uint32_t seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

inline std::string Repeat(const std::string& piece, std::size_t times) {
    std::string text;
    text.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

// The launcher ended by itself, not by a signal. (Its standard output is shared with a
// started Access, so only the error stream is the launcher's own.)
inline void ExpectCleanExit(const RunResult& r) {
    EXPECT_EQ(r.exitCode, 0) << "stderr: " << r.err;
}

}  // namespace p2::hostile
