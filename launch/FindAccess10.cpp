// FindAccess10: the Access 2002 executable, cut from its registered open command.
#include "launch/FindAccess10.h"

#include "launcher/ShowError.h"
#include "platform/mRegEdit.h"

namespace p2 {

std::string AccessPathOf(std::string commandText, char separator) {
    if (commandText.empty()) {
        return {};
    }
    if (commandText[0] == '"') {
        commandText.erase(0, 1);
    }
    const std::string marker = std::string(1, separator) + "MSACCESS.EXE";
    const auto at = commandText.find(marker);
    if (at == std::string::npos) {
        // No executable named as expected: nothing unexpected may be started.
        return {};
    }
    return commandText.substr(0, at + marker.size());
}

std::string FindAccess10(Ports& ports) {
    std::string result;
    Guarded(ports, "mMain-FindAccess10", [&] {
        const std::string commandText =
            RegGetString(ports.registry, kHKeyClassesRoot, kAccessCommandKey, "");
        result = AccessPathOf(commandText, ports.files.Separator());
    });
    return result;
}

}  // namespace p2
