// FileUpdate: one update pass over an installation folder and its UPDATE subfolder.
#include "update/FileUpdate.h"

#include <cstdint>
#include <limits>
#include <vector>

#include "launcher/ShowError.h"
#include "platform/mSHFileOperation.h"
#include "update/CarryOver.h"
#include "update/CheckAcFile.h"
#include "update/GetP2S_VerInfo.h"

namespace p2 {
namespace {

// Before the time of any file: an unreadable time stamp keeps it.
constexpr int64_t kDateZero = std::numeric_limits<int64_t>::min();

// Databases by version stamp, other files by modification time. A file that took the time
// route switches the pass's error handling off for the rest of the call.
//
// A file that does not open as a database never replaces one that does, and a file that begins
// as a database but does not open is a copy cut off or damaged: moving either in would lose a
// working database, so the pass stops there and the next start sees the delivery again.
Decision GeneralRule(Ports& ports, const std::string& installedPath,
                     const std::string& incomingPath, HandlerSwitch& handler) {
    const int32_t kind = CheckAcFile(ports, incomingPath);
    if (kind == 1) {
        const int32_t installedStamp = GetP2S_VerInfo(ports, installedPath);
        const int32_t incomingStamp = GetP2S_VerInfo(ports, incomingPath);
        return incomingStamp > installedStamp ? Decision::kReplace : Decision::kDiscard;
    }
    if (kind == 0) {
        int64_t installedTime = kDateZero;
        int64_t incomingTime = kDateZero;
        ErrorOf([&] { installedTime = ports.files.ModificationTime(installedPath); });
        ErrorOf([&] { incomingTime = ports.files.ModificationTime(incomingPath); });
        handler.SwitchOff();
        if (!(incomingTime > installedTime)) {
            return Decision::kDiscard;
        }
        return ports.database.HasDatabaseSignature(incomingPath) ||
                       CheckAcFile(ports, installedPath) == 1
                   ? Decision::kFailure
                   : Decision::kReplace;
    }
    return Decision::kFailure;
}

}  // namespace

bool FileUpdate(Ports& ports, const std::string& folder) {
    bool result = false;
    HandlerSwitch handler;
    Guarded(
        ports, "mMain-FileUpdate",
        [&] {
            const char sep = ports.files.Separator();
            const std::string updateFolder = folder + sep + kUpdateFolderName;
            // Gathered whole first: moving and deleting must not disturb the listing.
            const std::vector<std::string> names = ports.files.ListFiles(updateFolder);
            if (names.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
                throw AppError(kErrOverflow);
            }
            for (const std::string& name : names) {
                const std::string installedPath = folder + sep + name;
                const std::string incomingPath = updateFolder + sep + name;
                const Decision decision =
                    name == kSettingsDatabaseName
                        ? CarryOverSettings(ports, installedPath, incomingPath)
                        : GeneralRule(ports, installedPath, incomingPath, handler);
                if (decision == Decision::kFailure ||
                    (decision == Decision::kReplace &&
                     SHMove(ports, incomingPath, installedPath, kFileOpFlags) != 0)) {
                    ports.app.MessageBox("\"" + name + kUpdateFailedMessage, kStyleExclamation);
                    return;
                }
                SHKill(ports, incomingPath, kFileOpFlags);
            }
            result = true;
        },
        handler);
    return result;
}

}  // namespace p2
