// The launcher on Windows: the Win32 ports around the one core.
#include "launcher/Main.h"
#include "platform/win32/Api_win32.h"
#include "platform/win32/Machine_win32.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    p2::win32::Win32Machine machine;
    p2::Main(machine.ports);
    return 0;
}
