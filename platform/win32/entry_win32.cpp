// The launcher on Windows: the Win32 ports around the one core.
#include "launcher/Main.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Ports.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using namespace p2::win32;
    Win32Application app;
    Win32Files files;
    Win32Registry registry;
    Win32ShellFileOperation shell;
    Win32ScriptHost scriptHost;
    Win32Process process;
    Win32DatabaseService database;
    p2::Ports ports{app, files, registry, shell, scriptHost, process, database};
    p2::Main(ports);
    return 0;
}
