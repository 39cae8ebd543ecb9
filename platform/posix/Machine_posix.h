// Every port of this machine in one place, for the launcher and the tools that run the core.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/ports/Ports.h"
#include "platform/posix/PassFacts_posix.h"
#include "platform/posix/Ports_posix.h"
#include "platform/posix/Registry_posix.h"
#include "platform/posix/SqliteEngine_posix.h"

namespace p2::posix {

struct PosixMachine {
    explicit PosixMachine(std::vector<std::string> arguments) : app(std::move(arguments)) {}
    PosixMachine(const PosixMachine&) = delete;
    PosixMachine& operator=(const PosixMachine&) = delete;

    PosixApplication app;
    std::shared_ptr<PassFacts> facts = std::make_shared<PassFacts>();
    PosixFiles files{facts};
    PosixRegistry registry;
    PosixShellFileOperation shell{facts};
    PosixScriptHost scriptHost;
    PosixProcess process;
    SqliteDatabaseService database{facts};
    Ports ports{app, files, registry, shell, scriptHost, process, database};
};

}  // namespace p2::posix
