// CheckLdbFile: a stale lock file is deleted; one that Access holds ends the start silently.
#include "launch/CheckLdbFile.h"

#include "launcher/ShowError.h"

namespace p2 {

std::string LockFileName(const std::string& databasePath, char separator) {
    const auto dot = databasePath.rfind('.');
    const auto sep = databasePath.rfind(separator);
    const bool dotInName = dot != std::string::npos && (sep == std::string::npos || dot > sep);
    return (dotInName ? databasePath.substr(0, dot) : databasePath) + ".ldb";
}

bool CheckLdbFile(Ports& ports, const std::string& databasePath) {
    bool result = false;
    Guarded(ports, "mMain-CheckLdbFile", [&] {
        if (databasePath.empty()) {
            return;
        }
        const std::string lockFile = LockFileName(databasePath, ports.files.Separator());
        if (ports.files.Lookup(lockFile, kAttrNormal).empty()) {
            return;
        }
        // A lock that cannot be deleted is held by a running Access: an answer, not an error.
        const int32_t number = ErrorOf([&] { ports.files.DeleteFile(lockFile); });
        if (number != 0) {
            result = true;
        }
    });
    return result;
}

}  // namespace p2
