// The program's entry point and its whole control flow.
#pragma once

#include <string>

#include "platform/ports/Ports.h"

namespace p2 {

inline constexpr const char* kAppTitle = "ペロリンⅡ";
inline constexpr const char* kHomePageUrl = "https://pelorin2.example.jp/";
inline constexpr const char* kNotFoundMessage =
    "対象のファイルがみつかりません。処理を終了します。";

void Main(Ports& ports);

// The message for a user without administrator rights.
std::string RestrictedAccountMessage();

// The target database's file name from the argument text: the text between a leading
// quote and the next one, then what follows the last separator of either kind. Throws
// AppError 5 for an opening quote without a closing one.
std::string TargetName(const std::string& argumentText);

}  // namespace p2
