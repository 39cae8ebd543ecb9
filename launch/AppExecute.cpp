// AppExecute: starts Access on the target with the runtime switch, the workgroup file and the
// account.
#include "launch/AppExecute.h"

#include "launch/FindAccess10.h"
#include "launcher/ShowError.h"
#include "launcher/Workgroup.h"

namespace p2 {

void AppExecute(Ports& ports, const std::string& targetName) {
    Guarded(ports, "mMain-AppExecute", [&] {
        const std::string accessPath = FindAccess10(ports);
        if (accessPath.empty()) {
            ports.app.MessageBox(kNoAccessMessage, kStyleCritical);
            return;
        }
        const std::string programFolder = ports.app.ProgramFolder();
        const char sep = ports.files.Separator();
        std::string commandLine = "\"" + accessPath + "\" /Runtime \"" + programFolder + sep +
                                  targetName + "\" /Wrkgrp \"" + programFolder + sep +
                                  kWorkgroupFileName + "\" /User ";
        commandLine += GetWorkgroupUser();
        commandLine += " /Pwd ";
        commandLine += GetWorkgroupPassword();
        ports.process.Shell(commandLine, kNormalFocus);
    });
}

}  // namespace p2
