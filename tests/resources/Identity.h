// The names under which the program presents itself, as the tests expect them.
#pragma once

namespace p2::test {

// The maker, as the version block and the polkit action both name it.
inline constexpr const char* kMakerName = "株式会社ペロリン工房";

}  // namespace p2::test
