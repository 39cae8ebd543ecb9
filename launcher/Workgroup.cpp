// The workgroup account and the engine's workgroup context, shared by the update pass and the
// launch.
#include "launcher/Workgroup.h"

#include <array>

namespace p2 {
namespace {

// The account is never kept as one piece: each call spells it anew.
template <std::size_t N>
std::string Spell(const std::array<int, N>& codes) {
    std::string text;
    for (int code : codes) {
        text += std::string(1, static_cast<char>(code));
    }
    return text;
}

}  // namespace

std::string GetWorkgroupUser() {
    return Spell(std::array<int, 6>{104, 105, 107, 97, 114, 105});
}

std::string GetWorkgroupPassword() {
    return Spell(std::array<int, 11>{121, 97, 109, 97, 98, 117, 107, 105, 105, 114, 111});
}

std::string WorkgroupPath(Ports& ports) {
    return ports.app.ProgramFolder() + ports.files.Separator() + kWorkgroupFileName;
}

DBEngine& SetWorkgroupContext(Ports& ports) {
    DBEngine& engine = ports.database.Engine();
    engine.SetSystemDB(WorkgroupPath(ports));
    engine.SetDefaultUser(GetWorkgroupUser());
    engine.SetDefaultPassword(GetWorkgroupPassword());
    return engine;
}

}  // namespace p2
