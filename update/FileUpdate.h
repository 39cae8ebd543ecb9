// FileUpdate: newer deliveries replace the installed copies, the rest are deleted.
#pragma once

#include <string>

#include "platform/ports/Ports.h"

namespace p2 {

inline constexpr const char* kUpdateFolderName = "UPDATE";
inline constexpr const char* kUpdateFailedMessage =
    "\" ファイルのアップデート処理に失敗しました。処理を終了します。";

// Brings one installation folder up to date from its UPDATE subfolder: each delivered file
// replaces the installed one when newer and is deleted in every case. True when every file
// was handled; false when one could not be (the user has been told).
bool FileUpdate(Ports& ports, const std::string& folder);

}  // namespace p2
