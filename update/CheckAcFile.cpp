// CheckAcFile: does a file open as a database under the workgroup?
#include "update/CheckAcFile.h"

#include <memory>

#include "launcher/ShowError.h"
#include "launcher/Workgroup.h"

namespace p2 {

int32_t CheckAcFile(Ports& ports, const std::string& path) {
    int32_t result = -1;
    Guarded(ports, "mMain-CheckAcFile", [&] {
        if (ports.files.Lookup(path, kAttrHidden).empty()) {
            return;
        }
        DBEngine& engine = SetWorkgroupContext(ports);
        // Whatever refuses the open is the answer, not an error.
        std::unique_ptr<Database> database;
        const int32_t number = ErrorOf([&] { database = engine.OpenDatabase(path); });
        ErrorOf([&] {
            if (database) {
                database->Close();
            }
        });
        result = number == 0 ? 1 : 0;
    });
    return result;
}

}  // namespace p2
