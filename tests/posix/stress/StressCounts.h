// How much the stress tests do: enough for evidence in every run, more in a soak
// (tools/soak.sh sets the variables). The sanitizer build runs the launcher several times
// slower, so it does fewer rounds by default.
#pragma once

#include <cstdlib>
#include <string>

namespace p2::stress {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr int kDefaultKills = 60;
inline constexpr int kDefaultConcurrentRounds = 15;
#else
inline constexpr int kDefaultKills = 210;
inline constexpr int kDefaultConcurrentRounds = 50;
#endif

// A positive whole number from the environment, or `fallback`.
inline int Count(const char* variable, int fallback) {
    const char* text = std::getenv(variable);
    if (!text || !*text) {
        return fallback;
    }
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return *end == '\0' && value > 0 && value < 100'000'000 ? static_cast<int>(value) : fallback;
}

}  // namespace p2::stress
