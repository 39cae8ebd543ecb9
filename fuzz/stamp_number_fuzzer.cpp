// A version stamp's text gives a number, or "type mismatch" (13), or "overflow" (6); the
// number is checked against a reference written from the rules rather than from the code.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "FuzzCheck.h"
#include "platform/Error.h"
#include "update/GetP2S_VerInfo.h"

namespace {

struct Expected {
    int32_t number = 0;  // valid when error == 0
    int32_t error = 0;
};

bool AllDigits(const std::string& s) {
    return s.find_first_not_of("0123456789") == std::string::npos;
}

Expected Reference(const std::string& stamp) {
    if (stamp.size() == 5 && stamp[0] >= 'A' && stamp[0] <= 'Z' && stamp[1] >= 'A' &&
        stamp[1] <= 'Z' && AllDigits(stamp.substr(2))) {
        return {std::stoi(stamp.substr(2)), 0};
    }
    const auto first = stamp.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {0, p2::kErrTypeMismatch};
    }
    std::string body = stamp.substr(first, stamp.find_last_not_of(" \t") - first + 1);
    bool negative = false;
    if (body[0] == '+' || body[0] == '-') {
        negative = body[0] == '-';
        body.erase(0, 1);
    }
    const auto dot = body.find('.');
    std::string whole = body.substr(0, dot);
    std::string fraction = dot == std::string::npos ? std::string() : body.substr(dot + 1);
    if (!AllDigits(whole) || !AllDigits(fraction) || (whole.empty() && fraction.empty())) {
        return {0, p2::kErrTypeMismatch};
    }
    whole.erase(0, whole.find_first_not_of('0') == std::string::npos
                       ? whole.size()
                       : whole.find_first_not_of('0'));
    if (whole.size() > 11) {
        return {0, p2::kErrOverflow};  // at least 10^11 before any rounding
    }
    int64_t magnitude = whole.empty() ? 0 : std::stoll(whole);
    while (!fraction.empty() && fraction.back() == '0') {
        fraction.pop_back();
    }
    // Halves go to the even neighbour; anything above a half goes up.
    if (fraction == "5") {
        magnitude += magnitude % 2;
    } else if (!fraction.empty() && fraction >= "5") {
        magnitude += 1;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max()) {
        return {0, p2::kErrOverflow};
    }
    return {static_cast<int32_t>(value), 0};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string stamp(reinterpret_cast<const char*>(data), size);
    const Expected expected = Reference(stamp);
    try {
        const int32_t number = p2::StampNumber(stamp);
        if (expected.error != 0) {
            std::fprintf(stderr, "got %d, expected error %d\n", number, expected.error);
        }
        P2_FUZZ_CHECK(expected.error == 0);
        P2_FUZZ_CHECK(number == expected.number);
    } catch (const p2::AppError& e) {
        P2_FUZZ_CHECK(e.number() == p2::kErrTypeMismatch || e.number() == p2::kErrOverflow);
        if (e.number() != expected.error) {
            std::fprintf(stderr, "got error %d, expected %d (%d)\n", e.number(), expected.error,
                         expected.number);
        }
        P2_FUZZ_CHECK(e.number() == expected.error);
    }
    return 0;
}
