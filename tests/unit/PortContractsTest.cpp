// The fakes held to the port contracts, so that the core's tests drive a machine that
// answers as the real ones do.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "FakePorts.h"
#include "contracts/FilesContract.h"
#include "contracts/ProcessContract.h"
#include "contracts/RegistryContract.h"
#include "contracts/ShellFileOperationContract.h"

namespace p2::contract {
namespace {

class FakeWorld {
  public:
    static constexpr bool kHasAttributes = true;
    static constexpr bool kCanDenyListing = true;
    static constexpr bool kKeepsBufferOnMoreData = true;

    FakeWorld() { f_.m.programsOnDisk = true; }

    Files& files() { return f_.files; }
    ShellFileOperation& shell() { return f_.shell; }
    Process& process() { return f_.process; }
    Registry& registry() { return f_.registry; }

    std::string Path(const std::string& name) const {
        std::string path = kRoot;
        if (!name.empty()) {
            path += '\\';
        }
        for (char c : name) {
            path += c == '/' ? '\\' : c;
        }
        return path;
    }
    void Write(const std::string& name, const std::string& bytes, Attribute attribute = kPlain) {
        fake::FileEntry entry;
        entry.bytes = bytes;
        entry.hidden = attribute == kHidden || attribute == kHiddenSystem;
        entry.system = attribute == kSystem || attribute == kHiddenSystem;
        f_.m.Put(Path(name), entry);
    }
    void MakeFolder(const std::string& name) { f_.m.Put(Path(name), fake::Folder()); }
    bool Exists(const std::string& name) { return f_.m.Find(Path(name)) != nullptr; }
    std::string Read(const std::string& name) {
        const fake::FileEntry* f = f_.m.Find(Path(name));
        return f ? f->bytes : std::string();
    }
    void SetTime(const std::string& name, int64_t seconds, long /*nanoseconds*/) {
        f_.m.Find(Path(name))->mtime = seconds;
    }
    void Protect(const std::string& name) { f_.m.Find(Path(name))->undeletable = true; }
    void DenyListing(const std::string& name) { f_.m.Find(Path(name))->unlistable = true; }
    int32_t ErrorAsUser(const std::function<void()>& call) { return ErrorOf(call); }

    struct Holder {
        Holder(fake::Machine& machine, std::string held) : m(machine), path(std::move(held)) {
            m.Find(path)->undeletable = true;
        }
        Holder(const Holder&) = delete;
        Holder& operator=(const Holder&) = delete;
        fake::Machine& m;
        std::string path;
        bool ready = true;
        long Release() {
            if (fake::FileEntry* f = m.Find(path)) {
                f->undeletable = false;
            }
            return 0;
        }
        ~Holder() { Release(); }
    };
    std::unique_ptr<Holder> Hold(const std::string& name) {
        return std::make_unique<Holder>(f_.m, Path(name));
    }

    std::string Recorder() {
        fake::FileEntry entry;
        entry.program = true;
        f_.m.Put(Path("recorder.exe"), entry);
        return Path("recorder.exe");
    }
    // What followed the quoted program and its blank.
    std::string RecordedArguments(int64_t /*id*/) {
        if (f_.m.started.empty()) {
            return "<not started>";
        }
        const std::string& line = f_.m.started.back();
        return line.substr(std::min(line.size(), Path("recorder.exe").size() + 3));
    }

    void Put(const std::string& valueName, uint32_t type, const std::string& bytes) {
        const std::string key = kContractKey + "|" + valueName;
        f_.m.registryValues[key] = type == kRegDword ? bytes : bytes + '\0';
        f_.m.registryTypes[key] = type;
    }

  private:
    static constexpr const char* kRoot = "C:\\T";
    fake::Fixture f_;
};

P2_INSTANTIATE_PORT_CONTRACTS(Fake, FakeWorld);

}  // namespace
}  // namespace p2::contract
