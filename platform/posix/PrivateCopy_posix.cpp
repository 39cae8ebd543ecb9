// A private copy of a database with its side files, for a reader that may change nothing.
#include "platform/posix/PrivateCopy_posix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/Error.h"
#include "platform/ports/Database.h"

namespace p2::posix {

PrivateCopy::PrivateCopy(std::string folder)
    : folder_(std::move(folder)), path_(folder_ + "/database") {}

PrivateCopy::~PrivateCopy() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::unique_ptr<PrivateCopy> PrivateCopy::IfSideFiles(const std::string& path) {
    std::vector<std::string> sides;
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        struct stat info {};
        const std::string side = path + suffix;
        if (lstat(side.c_str(), &info) == 0 &&
            (info.st_size > 0 || std::string_view(suffix) != "-journal")) {
            sides.push_back(suffix);
        }
    }
    if (sides.empty()) {
        return nullptr;
    }
    std::error_code error;
    std::string folder =
        (std::filesystem::temp_directory_path(error) / "p2wg-plan.XXXXXX").string();
    if (error || !mkdtemp(folder.data())) {
        throw AppError(kErrEngineCannotOpen);
    }
    std::unique_ptr<PrivateCopy> copy(new PrivateCopy(folder));
    namespace fs = std::filesystem;
    if (!fs::copy_file(path, copy->path_, error)) {
        throw AppError(kErrEngineCannotOpen);
    }
    for (const std::string& suffix : sides) {
        if (!fs::copy_file(path + suffix, copy->path_ + suffix, error)) {
            throw AppError(kErrEngineCannotOpen);
        }
    }
    return copy;
}

}  // namespace p2::posix
