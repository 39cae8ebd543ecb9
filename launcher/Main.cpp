// Main: the whole start, from the title to the launch; every failed gate ends it.
#include "launcher/Main.h"

#include "launch/AppExecute.h"
#include "launch/CheckLdbFile.h"
#include "launcher/DeleteStartupShortcut.h"
#include "launcher/ShowError.h"
#include "platform/Error.h"
#include "update/FileUpdate.h"

namespace p2 {

std::string RestrictedAccountMessage() {
    return std::string("このアプリケーションは 「制限付きアカウント」 では実行できません。") +
           "\r\n\r\n" + "詳しくは、［スタート］⇒［すべてのプログラム］⇒［" + kAppTitle +
           "］⇒［ツール］にあります「管理者アカウントについて」をご覧ください。" + "\r\n" +
           "「管理者アカウントの設定について」が見つからない場合は、ペロリンⅡホームページ内の"
           "「よくあるご質問とその回答」をご覧ください。" +
           "\r\n\r\n" + "ペロリンⅡホームページURL" + "\u3000" + kHomePageUrl;
}

std::string TargetName(const std::string& argumentText) {
    std::string name = argumentText;
    if (!name.empty() && name[0] == '"') {
        const auto closing = name.find('"', 1);
        if (closing == std::string::npos) {
            // The quote extraction would ask for a negative length.
            throw AppError(kErrInvalidArgument);
        }
        name = name.substr(1, closing - 1);
    }
    // Both separators: no argument may name a file outside the program folder.
    const auto last = name.find_last_of("\\/");
    if (last != std::string::npos) {
        name = name.substr(last + 1);
    }
    return name;
}

void Main(Ports& ports) {
    Guarded(ports, "mMain-Main", [&] {
        ports.app.SetTitle(kAppTitle);
        if (ports.app.PrevInstance()) {
            return;
        }

        // Only the right to open the key with full access counts; nothing in it is read.
        RegKey probe = 0;
        if (ports.registry.OpenKey(kHKeyLocalMachine, "SYSTEM", kKeyAllAccess, probe) !=
            kRegSuccess) {
            ports.app.MessageBox(RestrictedAccountMessage(), kStyleExclamation);
            return;
        }
        ports.registry.CloseKey(probe);

        DeleteStartupShortcut(ports);

        const char sep = ports.files.Separator();
        const std::string programFolder = ports.app.ProgramFolder();
        const auto lastSep = programFolder.rfind(sep);
        const std::string installRoot =
            lastSep == std::string::npos ? std::string() : programFolder.substr(0, lastSep + 1);
        std::string updateFolder = installRoot + "SYSTEM";
        if (!FileUpdate(ports, updateFolder)) {
            return;
        }
        updateFolder = installRoot + "LAN";
        if (!FileUpdate(ports, updateFolder)) {
            return;
        }

        const std::string targetName = TargetName(ports.app.ArgumentText());
        const std::string targetPath = programFolder + sep + targetName;
        const bool looked = !ports.files.Lookup(targetPath, kAttrNormal).empty();
        if (!(looked && !targetName.empty())) {
            ports.app.MessageBox(kNotFoundMessage, kStyleExclamation);
            return;
        }
        if (CheckLdbFile(ports, targetPath)) {
            return;
        }
        AppExecute(ports, targetName);
    });
}

}  // namespace p2
