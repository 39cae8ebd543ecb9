// The launcher on Linux: the POSIX ports around the one core.
#include <string>
#include <vector>

#include "launcher/Main.h"
#include "platform/posix/Machine_posix.h"

int main(int argc, char** argv) {
    p2::posix::PosixMachine machine(
        std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    p2::Main(machine.ports);
    return 0;
}
