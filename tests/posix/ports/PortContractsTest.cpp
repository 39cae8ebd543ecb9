// The Linux ports held to the port contracts, on real temporary folders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "FilesTestSupport.h"
#include "contracts/FilesContract.h"
#include "contracts/ProcessContract.h"
#include "contracts/RegistryContract.h"
#include "contracts/ShellFileOperationContract.h"
#include "platform/posix/Ports_posix.h"
#include "platform/posix/Registry_posix.h"

namespace p2::contract {
namespace {

using posix::files_test::ChildResult;
using posix::files_test::LockHolder;
using posix::files_test::LockKind;
using posix::files_test::ReadFile;
using posix::files_test::RunInChild;
using posix::files_test::TempDir;
using posix::files_test::WriteFile;

std::string RegistryText(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + '"';
}

std::string Quoted(const std::string& text) {
    std::string quoted(1, '"');
    quoted += text;
    quoted += '"';
    return quoted;
}

std::string HexBytes(const std::string& bytes) {
    std::string out;
    char hex[4];
    for (unsigned char c : bytes) {
        std::snprintf(hex, sizeof hex, "%02x", c);
        out += out.empty() ? "" : ",";
        out += hex;
    }
    return out;
}

class PosixWorld {
  public:
    // POSIX has no hidden, system or read-only attribute: such files are ordinary ones.
    static constexpr bool kHasAttributes = false;
    static constexpr bool kCanDenyListing = true;
    static constexpr bool kKeepsBufferOnMoreData = true;

    ~PosixWorld() {
        for (const std::string& path : restore_) {
            chmod(path.c_str(), 0755);
        }
    }

    Files& files() { return files_; }
    ShellFileOperation& shell() { return shell_; }
    Process& process() { return process_; }

    std::string Path(const std::string& name) const {
        return name.empty() ? dir_.path() : dir_ / name;
    }
    void Write(const std::string& name, const std::string& bytes, Attribute = kPlain) {
        WriteFile(Path(name), bytes);
    }
    void MakeFolder(const std::string& name) { ASSERT_EQ(mkdir(Path(name).c_str(), 0755), 0); }
    bool Exists(const std::string& name) {
        struct stat info {};
        return lstat(Path(name).c_str(), &info) == 0;
    }
    std::string Read(const std::string& name) { return ReadFile(Path(name)); }
    void SetTime(const std::string& name, int64_t seconds, long nanoseconds) {
        const timespec times[2] = {{seconds, 0}, {seconds, nanoseconds}};
        ASSERT_EQ(utimensat(AT_FDCWD, Path(name).c_str(), times, 0), 0);
    }
    // No right to write the folder that holds it.
    void Protect(const std::string&) { Deny(dir_.path(), 0555); }
    void DenyListing(const std::string& name) { Deny(Path(name), 0000); }

    // The error number that `call` raises for an unprivileged user: root gives its rights up
    // in a forked child first, so that the refusal happens under test runs as root too.
    int32_t ErrorAsUser(const std::function<void()>& call) {
        const ChildResult result = RunInChild([&] {
            if (geteuid() == 0 && (chmod(dir_.path().c_str(), 0755) != 0 || setgid(65534) != 0 ||
                                   setuid(65534) != 0)) {
                return std::string("no drop");
            }
            return std::to_string(ErrorOf(call));
        });
        return result.value == "no drop" ? -1 : std::stoi(result.value);
    }

    // Held as the Access stand-in holds its lock file.
    struct Holder {
        explicit Holder(const std::string& path) {
            lock.emplace(path, LockKind::kOfdWrite);
            ready = lock->locked();
        }
        long Release() {
            lock.reset();
            return 0;
        }
        std::optional<LockHolder> lock;
        bool ready = false;
    };
    std::unique_ptr<Holder> Hold(const std::string& name) {
        return std::make_unique<Holder>(Path(name));
    }

    // A script that writes its arguments one per line, all at once.
    std::string Recorder() {
        const std::string output = Path("argv.txt");
        Write("record.sh", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" +
                               output + ".part\"\nmv \"" + output + ".part\" \"" + output + "\"\n");
        chmod(Path("record.sh").c_str(), 0755);
        return Path("record.sh");
    }
    // The recorded arguments joined by one blank, those with a blank in quotes, as the
    // Windows helper reports its argument text (bounded wait).
    std::string RecordedArguments(int64_t) {
        for (int i = 0; i < 400 && !Exists("argv.txt"); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!Exists("argv.txt")) {
            return "<not started>";
        }
        const std::string text = Read("argv.txt");
        std::string joined;
        for (size_t start = 0; start < text.size();) {
            const size_t end = text.find('\n', start);
            const std::string argument = text.substr(start, end - start);
            joined += joined.empty() ? "" : " ";
            joined += argument.find(' ') == std::string::npos ? argument : Quoted(argument);
            start = end == std::string::npos ? text.size() : end + 1;
        }
        return joined;
    }

    // The value in the syntax an export uses for it: text in quotes, a number as dword, and
    // an expandable text as the UTF-16 bytes Windows keeps it in.
    void Put(const std::string& valueName, uint32_t type, const std::string& bytes) {
        std::string line = valueName.empty() ? "@" : RegistryText(valueName);
        if (type == kRegDword) {
            char number[16];
            std::snprintf(number, sizeof number, "dword:%08x",
                          static_cast<unsigned char>(bytes[0]) |
                              static_cast<unsigned char>(bytes[1]) << 8 |
                              static_cast<unsigned char>(bytes[2]) << 16 |
                              static_cast<unsigned>(static_cast<unsigned char>(bytes[3])) << 24);
            line += "=" + std::string(number);
        } else if (type == kRegExpandSz) {
            std::string utf16;
            for (char c : bytes + '\0') {
                utf16 += {c, '\0'};
            }
            line += "=hex(2):" + HexBytes(utf16);
        } else if (bytes.find('\0') != std::string::npos) {
            line += "=hex(1):" + HexBytes(bytes + '\0');
        } else {
            line += "=" + RegistryText(bytes);
        }
        values_ += line + "\r\n";
        registry_.reset();
    }
    // A registry object reads its file once: a fresh one after every change.
    Registry& registry() {
        if (!registry_) {
            WriteFile(
                Path("registry.reg"),
                "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM]\r\n\r\n"
                "[HKEY_CLASSES_ROOT\\" +
                    kContractKey + "]\r\n" + values_);
            registry_.emplace(Path("registry.reg"));
        }
        return *registry_;
    }

  private:
    void Deny(const std::string& path, mode_t mode) {
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        restore_.push_back(path);
    }

    TempDir dir_;
    std::vector<std::string> restore_;
    posix::PosixFiles files_;
    posix::PosixShellFileOperation shell_;
    posix::PosixProcess process_;
    std::string values_;
    std::optional<posix::PosixRegistry> registry_;
};

P2_INSTANTIATE_PORT_CONTRACTS(Posix, PosixWorld);

}  // namespace
}  // namespace p2::contract
