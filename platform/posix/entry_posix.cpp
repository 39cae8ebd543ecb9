// The launcher on Linux: the POSIX ports around the one core.
#include <vector>

#include "launcher/Main.h"
#include "platform/posix/PosixPorts.h"
#include "platform/posix/Registry_posix.h"
#include "platform/posix/SqliteEngine.h"

int main(int argc, char** argv) {
    using namespace p2::posix;
    PosixApplication app(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    PosixFiles files;
    PosixRegistry registry;
    PosixShellFileOperation shell;
    PosixScriptHost scriptHost;
    PosixProcess process;
    SqliteDatabaseService database;
    p2::Ports ports{app, files, registry, shell, scriptHost, process, database};
    p2::Main(ports);
    return 0;
}
