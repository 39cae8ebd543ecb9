// The registry port on Linux: keys and values of the registry file, opened with the rights of that
// file.
#include "platform/posix/Registry_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/posix/Environment_posix.h"
#include "platform/posix/Errors_posix.h"

namespace p2::posix {
namespace {

constexpr long kRegInvalidHandle = 6;

// The predefined keys, by their handle value less 0x80000000. Performance data has no
// place in the file, so its name matches no key there.
constexpr uint32_t kFirstHive = 0x80000000u;
constexpr std::array<std::string_view, 6> kHiveNames = {
    "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",     "HKEY_LOCAL_MACHINE",
    "HKEY_USERS",        "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG",
};

constexpr std::string_view kMachineClasses = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes";

// KEY_SET_VALUE, KEY_CREATE_SUB_KEY, KEY_CREATE_LINK, DELETE, WRITE_DAC, WRITE_OWNER.
constexpr uint32_t kWriteRights = 0x2u | 0x4u | 0x20u | 0x10000u | 0x40000u | 0x80000u;

int OpenRetrying(const char* path) {
    int fd = -1;
    do {
        // Non-blocking, so that a FIFO put in the file's place cannot stall the open.
        fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The whole file, or nothing when it is no regular file, cannot be read or is too large.
std::string ReadBounded(const std::string& path, bool& ok) {
    ok = false;
    std::string text;
    const int fd = OpenRetrying(path.c_str());
    if (fd < 0) {
        return text;
    }
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::size_t>(info.st_size) <= kRegistryFileLimit) {
        std::array<char, 65536> chunk{};
        for (;;) {
            const ssize_t got = read(fd, chunk.data(), chunk.size());
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                break;
            }
            if (got == 0) {
                ok = true;
                break;
            }
            text.append(chunk.data(), static_cast<std::size_t>(got));
            // The file may grow while it is read.
            if (text.size() > kRegistryFileLimit) {
                break;
            }
        }
    }
    close(fd);
    return text;
}

}  // namespace

PosixRegistry::PosixRegistry() : PosixRegistry(SystemConfigDir() + "/pelorin2/registry.reg") {}

PosixRegistry::PosixRegistry(std::string path) : path_(std::move(path)) {}

void PosixRegistry::Load() {
    loaded_ = true;
    bool ok = false;
    const std::string text = ReadBounded(path_, ok);
    if (ok) {
        data_ = ParseRegistry(text);
    }
}

long PosixRegistry::OpenKey(uint32_t hive, const std::string& subKey, uint32_t access,
                            RegKey& key) {
    if (hive < kFirstHive || hive - kFirstHive >= kHiveNames.size()) {
        return kRegInvalidHandle;
    }
    struct stat info {};
    if (stat(path_.c_str(), &info) != 0 && Win32CodeOfErrno(errno) == kRegFileNotFound) {
        return kRegFileNotFound;
    }
    // The file's permissions stand for the key's security: writing needs the right to
    // write the file, as only an administrator may.
    const int mode = (access & kWriteRights) != 0 ? (R_OK | W_OK) : R_OK;
    if (faccessat(AT_FDCWD, path_.c_str(), mode, AT_EACCESS) != 0) {
        return kRegAccessDenied;
    }
    if (!loaded_) {
        Load();
    }
    std::string path(kHiveNames[hive - kFirstHive]);
    if (!subKey.empty()) {
        path += '\\';
        path += subKey;
        // An empty part of the name names no key.
        if (path.back() == '\\' || path.find("\\\\") != std::string::npos) {
            return kRegFileNotFound;
        }
    }
    if (!data_.HasKey(path)) {
        // As on Windows, HKEY_CLASSES_ROOT shows the machine's classes where it has no key
        // of its own.
        if (hive != kFirstHive) {
            return kRegFileNotFound;
        }
        path = std::string(kMachineClasses) + path.substr(kHiveNames[0].size());
        if (!data_.HasKey(path)) {
            return kRegFileNotFound;
        }
    }
    key = nextKey_++;
    open_.emplace(key, std::move(path));
    return kRegSuccess;
}

long PosixRegistry::QueryValue(RegKey key, const std::string& valueName, uint32_t& type,
                               unsigned char* data, uint32_t& size) {
    const auto open = open_.find(key);
    if (open == open_.end()) {
        return kRegInvalidHandle;
    }
    const RegistryValue* value = data_.FindValue(open->second, valueName);
    if (value == nullptr) {
        return kRegFileNotFound;
    }
    // Below the file's size limit, so it fits.
    const auto needed = static_cast<uint32_t>(value->data.size());
    type = value->type;
    if (data != nullptr && needed > size) {
        size = needed;
        return kRegMoreData;
    }
    if (data != nullptr && needed > 0) {
        std::memcpy(data, value->data.data(), needed);
    }
    size = needed;
    return kRegSuccess;
}

long PosixRegistry::CloseKey(RegKey key) {
    return open_.erase(key) == 1 ? kRegSuccess : kRegInvalidHandle;
}

std::string PosixRegistry::DecodeText(std::string_view bytes) {
    // The file is UTF-8, as the program's text is.
    return std::string(bytes);
}

}  // namespace p2::posix
