// The lock file's name stays in the database's folder and ends in ".ldb", for any path.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "launch/CheckLdbFile.h"

namespace {

void Check(const std::string& path, char separator) {
    const std::string lock = p2::LockFileName(path, separator);
    P2_FUZZ_CHECK(lock.size() >= 4 && lock.compare(lock.size() - 4, 4, ".ldb") == 0);
    P2_FUZZ_CHECK(lock.size() <= path.size() + 4);

    // Same folder part, up to and including the last separator.
    const auto folderEnd = path.rfind(separator);
    const std::size_t folderLength = folderEnd == std::string::npos ? 0 : folderEnd + 1;
    P2_FUZZ_CHECK(lock.compare(0, folderLength, path, 0, folderLength) == 0);
    const std::string name = path.substr(folderLength);
    const std::string lockName = lock.substr(folderLength);
    P2_FUZZ_CHECK(lockName.find(separator) == std::string::npos);

    // The name loses at most its last extension: the stem is a prefix of the name, and what
    // was cut off is empty or one dot-led extension without a further dot.
    const std::string stem = lockName.substr(0, lockName.size() - 4);
    P2_FUZZ_CHECK(name.compare(0, stem.size(), stem) == 0);
    const std::string cut = name.substr(stem.size());
    if (cut.empty()) {
        P2_FUZZ_CHECK(name.find('.') == std::string::npos);
    } else {
        P2_FUZZ_CHECK(cut[0] == '.' && cut.find('.', 1) == std::string::npos);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path(reinterpret_cast<const char*>(data), size);
    Check(path, '/');
    Check(path, '\\');
    return 0;
}
