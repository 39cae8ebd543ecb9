// Every port of this machine in one place, for the launcher and the tools that run the core.
#pragma once

#include "platform/ports/Ports.h"
#include "platform/win32/Ports_win32.h"

namespace p2::win32 {

struct Win32Machine {
    Win32Machine() = default;
    Win32Machine(const Win32Machine&) = delete;
    Win32Machine& operator=(const Win32Machine&) = delete;

    Win32Application app;
    Win32Files files;
    Win32Registry registry;
    Win32ShellFileOperation shell;
    Win32ScriptHost scriptHost;
    Win32Process process;
    Win32DatabaseService database;
    Ports ports{app, files, registry, shell, scriptHost, process, database};
};

}  // namespace p2::win32
