// The standard texts of the error numbers, shown in every error box.
#pragma once

#include <cstdint>
#include <string>

namespace p2 {

// The catalogue's text for `number`, or its generic text for a number without an entry.
std::string StandardErrorText(int32_t number);

// "ｴﾗｰNo. <number>  【<tag>】" CR LF CR LF "<standard text>": the layout of every error box.
std::string ErrorBoxText(int32_t number, const std::string& tag);

}  // namespace p2
