// Everything the core reaches the machine through.
#pragma once

#include "platform/ports/Application.h"
#include "platform/ports/Database.h"
#include "platform/ports/Files.h"
#include "platform/ports/Process.h"
#include "platform/ports/Registry.h"
#include "platform/ports/ScriptHost.h"
#include "platform/ports/ShellFileOperation.h"

namespace p2 {

struct Ports {
    Application& app;
    Files& files;
    Registry& registry;
    ShellFileOperation& shell;
    ScriptHost& scriptHost;
    Process& process;
    DatabaseService& database;
};

}  // namespace p2
