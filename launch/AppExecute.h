// AppExecute: the last step of a start, the Access command line.
#pragma once

#include <string>

#include "platform/ports/Ports.h"

namespace p2 {

inline constexpr const char* kNoAccessMessage =
    "Microsoft Access の有効な実行ファイルがシステム中に存在しません";

// Starts Access on the target database under the workgroup file and account; does not wait.
void AppExecute(Ports& ports, const std::string& targetName);

}  // namespace p2
