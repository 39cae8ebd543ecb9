// DeleteStartupShortcut: the installer's start-up shortcut goes at every start; a failure never
// stops it.
#include "launcher/DeleteStartupShortcut.h"

#include <memory>

#include "launcher/ShowError.h"

namespace p2 {

void DeleteStartupShortcut(Ports& ports) {
    // Held outside the handler: it is released after the box, as the procedure ends.
    std::unique_ptr<ScriptShell> shell;
    Guarded(ports, "mMain-DeleteStartupShortcut", [&] {
        shell = ports.scriptHost.CreateShell();
        for (const char* folderName : {"AllUsersStartup", "Startup"}) {
            const std::string shortcut =
                shell->SpecialFolders(folderName) + ports.files.Separator() + kStartupShortcutName;
            if (!ports.files.Lookup(shortcut, kAttrNormal).empty()) {
                ports.files.DeleteFile(shortcut);
            }
        }
    });
}

}  // namespace p2
