#include "platform/posix/PrivateCopy_posix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/Error.h"
#include "platform/ports/Database.h"

namespace p2::posix {

PrivateCopy::PrivateCopy(std::string folder)
    : folder_(std::move(folder)), path_(folder_ + "/database") {}

PrivateCopy::~PrivateCopy() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::unique_ptr<PrivateCopy> PrivateCopy::IfJournalled(const std::string& path) {
    const std::string journal = path + "-journal";
    struct stat info {};
    if (stat(journal.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0) {
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
    if (!fs::copy_file(path, copy->path_, error) ||
        !fs::copy_file(journal, copy->path_ + "-journal", error)) {
        throw AppError(kErrEngineCannotOpen);
    }
    return copy;
}

}  // namespace p2::posix
