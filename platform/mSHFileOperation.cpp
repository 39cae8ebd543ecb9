// SHMove, SHKill and ShowFileOpError: the shell's file operation with the module's own error box.
#include "platform/mSHFileOperation.h"

#include "platform/ErrorCatalogue.h"
#include "platform/Handler.h"

namespace p2 {
namespace {

// What a call returns when it failed before the service could answer: never 0, so a
// reported failure is never taken for a completed move.
constexpr int32_t kReportedFailure = -1;

// One path, its terminator, and the list's terminator.
std::string PathList(const std::string& path) {
    std::string list = path;
    list.push_back('\0');
    list.push_back('\0');
    return list;
}

int32_t Operate(Ports& ports, FileOpRequest request, const char* procedureName) {
    int32_t result = kReportedFailure;
    WithHandler([&] { result = ports.shell.Run(request); },
                [&](int32_t number) { ShowFileOpError(ports, number, procedureName); });
    return result;
}

}  // namespace

int32_t SHMove(Ports& ports, const std::string& from, const std::string& to, uint16_t flags) {
    return Operate(ports, FileOpRequest{kFoMove, PathList(from), PathList(to), flags}, "SHMove");
}

int32_t SHKill(Ports& ports, const std::string& path, uint16_t flags) {
    return Operate(ports, FileOpRequest{kFoDelete, PathList(path), {}, flags}, "SHKill");
}

void ShowFileOpError(Ports& ports, int32_t errorNumber, const std::string& procedureName) {
    ports.app.MessageBox(ErrorBoxText(errorNumber, "mSHFileOperation-" + procedureName),
                         kStyleCritical);
}

}  // namespace p2
