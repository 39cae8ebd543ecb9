// The registry port on a file of any content: every key the text holds opens, every value
// reads into the 1024-byte buffer without a byte written outside what it needs, and the
// wrapper's text is the value up to its first NUL.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "platform/mRegEdit.h"
#include "platform/posix/Registry_posix.h"

namespace {

constexpr std::size_t kGuard = 64;
constexpr unsigned char kFill = 0xA5;
constexpr std::size_t kMaxKeys = 64;

// One file for the whole run, removed at its end.
class ScratchFile {
  public:
    ScratchFile() {
        const char* dir = std::getenv("TMPDIR");
        path_ = std::string(dir && *dir ? dir : "/tmp") + "/p2fuzz-registry.XXXXXX";
        fd_ = mkstemp(path_.data());
        P2_FUZZ_CHECK(fd_ >= 0);
    }
    ~ScratchFile() {
        close(fd_);
        unlink(path_.c_str());
    }
    void Write(const uint8_t* data, size_t size) {
        P2_FUZZ_CHECK(ftruncate(fd_, 0) == 0);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            P2_FUZZ_CHECK(n > 0);
            done += static_cast<std::size_t>(n);
        }
    }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    int fd_ = -1;
};

uint32_t HiveOf(const std::string& name) {
    static const std::array<const char*, 6> names = {
        "hkey_classes_root", "hkey_current_user",     "hkey_local_machine",
        "hkey_users",        "hkey_performance_data", "hkey_current_config"};
    for (uint32_t i = 0; i < names.size(); ++i) {
        if (name == names[i]) {
            return p2::kHKeyClassesRoot + i;
        }
    }
    return 0;
}

void CheckValue(p2::posix::PosixRegistry& registry, p2::RegKey key, const std::string& name,
                const p2::posix::RegistryValue* expected) {
    std::array<unsigned char, p2::kRegBufferSize + 2 * kGuard> area{};
    area.fill(kFill);
    unsigned char* buffer = area.data() + kGuard;
    uint32_t type = 0;
    uint32_t size = p2::kRegBufferSize;
    const long status = registry.QueryValue(key, name, type, buffer, size);
    std::size_t written = 0;
    if (expected == nullptr) {
        P2_FUZZ_CHECK(status == p2::kRegFileNotFound);
    } else if (expected->data.size() > p2::kRegBufferSize) {
        P2_FUZZ_CHECK(status == p2::kRegMoreData);
    } else {
        P2_FUZZ_CHECK(status == p2::kRegSuccess);
        P2_FUZZ_CHECK(size == expected->data.size() && type == expected->type);
        P2_FUZZ_CHECK(std::memcmp(buffer, expected->data.data(), size) == 0);
        written = size;
    }
    for (std::size_t i = 0; i < area.size(); ++i) {
        if (i < kGuard || i >= kGuard + written) {
            P2_FUZZ_CHECK(area[i] == kFill);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchFile file;
    file.Write(data, size);
    const p2::posix::RegistryData parsed =
        p2::posix::ParseRegistry(std::string_view(reinterpret_cast<const char*>(data), size));

    p2::posix::PosixRegistry registry(file.Path());
    // The administrator probe: full access to HKLM\SYSTEM, here where the file is writable.
    p2::RegKey probe = 0;
    const long probed = registry.OpenKey(p2::kHKeyLocalMachine, "SYSTEM", p2::kKeyAllAccess, probe);
    P2_FUZZ_CHECK((probed == p2::kRegSuccess) == parsed.HasKey("HKEY_LOCAL_MACHINE\\SYSTEM"));
    if (probed == p2::kRegSuccess) {
        P2_FUZZ_CHECK(registry.CloseKey(probe) == p2::kRegSuccess);
    }

    std::size_t checked = 0;
    for (const auto& [path, values] : parsed.keys) {
        if (++checked > kMaxKeys) {
            break;
        }
        const auto cut = path.find('\\');
        const uint32_t hive = HiveOf(path.substr(0, cut));
        P2_FUZZ_CHECK(hive != 0);
        const std::string subKey = cut == std::string::npos ? std::string() : path.substr(cut + 1);
        p2::RegKey key = 0;
        P2_FUZZ_CHECK(registry.OpenKey(hive, subKey, p2::kKeyRead, key) == p2::kRegSuccess);
        for (const auto& [name, value] : values) {
            CheckValue(registry, key, name, &value);
        }
        CheckValue(registry, key, "\x01no such value", nullptr);
        P2_FUZZ_CHECK(registry.CloseKey(key) == p2::kRegSuccess);
        P2_FUZZ_CHECK(registry.CloseKey(key) != p2::kRegSuccess);

        // The wrapper: the value's text up to its first NUL, empty when it does not fit or
        // the buffer holds no NUL at all.
        for (const auto& [name, value] : values) {
            std::string expected;
            if (value.data.size() <= p2::kRegBufferSize) {
                std::string padded = value.data;
                padded.resize(p2::kRegBufferSize, '\0');
                const auto nul = padded.find('\0');
                expected = nul == std::string::npos ? std::string() : padded.substr(0, nul);
            }
            P2_FUZZ_CHECK(p2::RegGetString(registry, hive, subKey, name) == expected);
        }
    }
    return 0;
}
