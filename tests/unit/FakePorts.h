// Fake ports over an in-memory machine, so that every branch of the core can be driven.
// Paths use the Windows separator, as the system was written for.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/Error.h"
#include "platform/ports/Ports.h"

namespace p2::fake {

struct Table {
    std::vector<std::string> columns;
    std::vector<std::map<std::string, FieldValue>> rows;
};

struct DatabaseContent {
    std::map<std::string, Table> tables;
};

struct FileEntry {
    int64_t mtime = 1'000'000;
    bool hidden = false;
    bool system = false;
    bool folder = false;
    bool undeletable = false;  // held by another process, or read-only
    bool unlistable = false;   // a folder that may not be read
    bool program = false;      // a file that can be started
    std::string bytes;
    std::optional<DatabaseContent> database;  // set: the file opens as a database
    bool signature = false;  // begins as a database even without `database`: a damaged one
};

struct Box {
    std::string text;
    MessageStyle style;
};

// Everything the fakes hold and record, in one place.
struct Machine {
    std::vector<std::string> log;  // calls that matter for ordering, in order
    std::vector<Box> boxes;

    bool prevInstance = false;
    std::string programFolder = "C:\\P2\\Prog";
    std::string argumentText;
    std::string title;

    std::vector<std::pair<std::string, FileEntry>> files;  // in listing order
    std::map<std::string, int32_t> failLookup;             // path -> error raised
    std::map<std::string, std::string> lookupAnswer;       // path -> name answered
    std::map<std::string, int32_t> failModificationTime;   // path -> error raised
    int32_t failListing = 0;

    long probeResult = kRegSuccess;
    // "key|value" -> bytes and type (REG_SZ when not given); names compare without regard to
    // ASCII letter case, as in the registry.
    std::map<std::string, std::string> registryValues;
    std::map<std::string, uint32_t> registryTypes;
    int32_t failRegistryRead = 0;

    std::set<std::string> failMoveFrom;
    int32_t raiseInShell = 0;

    std::map<std::string, std::string> specialFolders{
        {"AllUsersStartup", "C:\\ProgramData\\Startup"}, {"Startup", "C:\\Users\\u\\Startup"}};
    int32_t failCreateShell = 0;
    int32_t failSpecialFolder = 0;

    std::vector<std::string> started;  // command lines
    int32_t failStart = 0;
    // Whether a started program must stand among the files (53 when it does not, 70 when it
    // is no program), as on a real machine. The core's tests name an Access that needs none.
    bool programsOnDisk = false;

    int32_t failEngine = 0;
    bool refuseEveryOpen = false;
    std::vector<std::string> engineSettings;

    FileEntry* Find(const std::string& path) {
        auto it = std::find_if(files.begin(), files.end(),
                               [&](const auto& f) { return f.first == path; });
        return it == files.end() ? nullptr : &it->second;
    }
    FileEntry& Put(const std::string& path, FileEntry entry = {}) {
        if (FileEntry* existing = Find(path)) {
            *existing = std::move(entry);
            return *existing;
        }
        files.emplace_back(path, std::move(entry));
        return files.back().second;
    }
    void Remove(const std::string& path) {
        files.erase(std::remove_if(files.begin(), files.end(),
                                   [&](const auto& f) { return f.first == path; }),
                    files.end());
    }
    std::vector<std::string> Paths() const {
        std::vector<std::string> paths;
        for (const auto& f : files) {
            paths.push_back(f.first);
        }
        return paths;
    }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const auto& b : boxes) {
            texts.push_back(b.text);
        }
        return texts;
    }
};

inline std::string Parent(const std::string& path) {
    const auto at = path.rfind('\\');
    return at == std::string::npos ? std::string() : path.substr(0, at);
}

inline std::string BaseName(const std::string& path) {
    return path.substr(path.rfind('\\') + 1);
}

inline std::string AsciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

class FakeApplication final : public Application {
  public:
    explicit FakeApplication(Machine& m) : m_(m) {}
    void SetTitle(const std::string& title) override {
        m_.title = title;
        m_.log.push_back("SetTitle");
    }
    bool PrevInstance() override {
        m_.log.push_back("PrevInstance");
        return m_.prevInstance;
    }
    std::string ProgramFolder() override { return m_.programFolder; }
    std::string ArgumentText() override { return m_.argumentText; }
    void MessageBox(const std::string& text, MessageStyle style) override {
        m_.boxes.push_back({text, style});
        m_.log.push_back("MessageBox");
    }

  private:
    Machine& m_;
};

class FakeFiles final : public Files {
  public:
    explicit FakeFiles(Machine& m) : m_(m) {}
    char Separator() const override { return '\\'; }
    std::string Lookup(const std::string& path, int attributes) override {
        if (auto it = m_.failLookup.find(path); it != m_.failLookup.end()) {
            throw AppError(it->second);
        }
        if (auto it = m_.lookupAnswer.find(path); it != m_.lookupAnswer.end()) {
            return it->second;
        }
        const FileEntry* f = m_.Find(path);
        if (!f || f->folder || f->system || (f->hidden && !(attributes & kAttrHidden))) {
            return {};
        }
        return BaseName(path);
    }
    std::vector<std::string> ListFiles(const std::string& folder) override {
        m_.log.push_back("ListFiles " + folder);
        if (m_.failListing) {
            throw AppError(m_.failListing);
        }
        if (const FileEntry* f = m_.Find(folder); f && f->folder && f->unlistable) {
            throw AppError(kErrPermissionDenied);
        }
        std::vector<std::string> names;
        for (const auto& [path, f] : m_.files) {
            if (Parent(path) == folder && !f.folder && !f.system) {
                names.push_back(BaseName(path));
            }
        }
        return names;
    }
    int64_t ModificationTime(const std::string& path) override {
        m_.log.push_back("ModificationTime " + path);
        if (auto it = m_.failModificationTime.find(path); it != m_.failModificationTime.end()) {
            throw AppError(it->second);
        }
        const FileEntry* f = m_.Find(path);
        if (!f) {
            throw AppError(kErrFileNotFound);
        }
        return f->mtime;
    }
    void DeleteFile(const std::string& path) override {
        m_.log.push_back("DeleteFile " + path);
        const FileEntry* f = m_.Find(path);
        if (!f) {
            throw AppError(kErrFileNotFound);
        }
        if (f->undeletable) {
            throw AppError(kErrPermissionDenied);
        }
        m_.Remove(path);
    }

  private:
    Machine& m_;
};

class FakeRegistry final : public Registry {
  public:
    explicit FakeRegistry(Machine& m) : m_(m) {}
    long OpenKey(uint32_t hive, const std::string& subKey, uint32_t access, RegKey& key) override {
        m_.log.push_back("OpenKey " + subKey);
        if (hive == kHKeyLocalMachine && subKey == "SYSTEM" && access == kKeyAllAccess) {
            key = 1;
            return m_.probeResult;
        }
        if (m_.failRegistryRead) {
            throw AppError(m_.failRegistryRead);
        }
        const std::string prefix = AsciiLower(subKey + "|");
        const bool exists =
            std::any_of(m_.registryValues.begin(), m_.registryValues.end(),
                        [&](const auto& v) { return AsciiLower(v.first).rfind(prefix, 0) == 0; });
        if (hive != kHKeyClassesRoot || access != kKeyRead || !exists) {
            return kRegFileNotFound;
        }
        openKey_ = subKey;
        key = 2;
        return kRegSuccess;
    }
    long QueryValue(RegKey, const std::string& valueName, uint32_t& type, unsigned char* data,
                    uint32_t& size) override {
        const std::string wanted = AsciiLower(openKey_ + "|" + valueName);
        auto it = std::find_if(m_.registryValues.begin(), m_.registryValues.end(),
                               [&](const auto& v) { return AsciiLower(v.first) == wanted; });
        if (it == m_.registryValues.end()) {
            return kRegFileNotFound;
        }
        const auto typed = m_.registryTypes.find(it->first);
        type = typed == m_.registryTypes.end() ? 1 : typed->second;
        if (it->second.size() > size) {
            size = static_cast<uint32_t>(it->second.size());
            return kRegMoreData;
        }
        std::copy(it->second.begin(), it->second.end(), data);
        size = static_cast<uint32_t>(it->second.size());
        return kRegSuccess;
    }
    long CloseKey(RegKey key) override {
        m_.log.push_back("CloseKey " + std::to_string(key));
        return kRegSuccess;
    }
    std::string DecodeText(std::string_view bytes) override { return std::string(bytes); }

  private:
    Machine& m_;
    std::string openKey_;
};

class FakeShell final : public ShellFileOperation {
  public:
    explicit FakeShell(Machine& m) : m_(m) {}
    int32_t Run(const FileOpRequest& request) override {
        if (m_.raiseInShell) {
            throw AppError(m_.raiseInShell);
        }
        const std::string from = request.from.substr(0, request.from.find('\0'));
        const std::string to = request.to.substr(0, request.to.find('\0'));
        lastFlags = request.flags;
        if (request.func == kFoMove) {
            m_.log.push_back("Move " + from + " -> " + to);
            FileEntry* f = m_.Find(from);
            if (!f || m_.failMoveFrom.count(from)) {
                return 1;
            }
            if (const FileEntry* old = m_.Find(to); f->undeletable || (old && old->undeletable)) {
                return kSharingViolation;
            }
            FileEntry moved = *f;
            m_.Remove(from);
            m_.Put(to, moved);
            return 0;
        }
        m_.log.push_back("Kill " + from);
        const FileEntry* f = m_.Find(from);
        if (!f) {
            return 2;
        }
        if (f->undeletable) {
            return kSharingViolation;
        }
        m_.Remove(from);
        return 0;
    }
    uint16_t lastFlags = 0;

  private:
    static constexpr int32_t kSharingViolation = 32;
    Machine& m_;
};

class FakeScriptShell final : public ScriptShell {
  public:
    explicit FakeScriptShell(Machine& m) : m_(m) {}
    ~FakeScriptShell() override { m_.log.push_back("ReleaseShell"); }
    std::string SpecialFolders(const std::string& name) override {
        if (m_.failSpecialFolder) {
            throw AppError(m_.failSpecialFolder);
        }
        return m_.specialFolders.at(name);
    }

  private:
    Machine& m_;
};

class FakeScriptHost final : public ScriptHost {
  public:
    explicit FakeScriptHost(Machine& m) : m_(m) {}
    std::unique_ptr<ScriptShell> CreateShell() override {
        m_.log.push_back("CreateShell");
        if (m_.failCreateShell) {
            throw AppError(m_.failCreateShell);
        }
        return std::make_unique<FakeScriptShell>(m_);
    }

  private:
    Machine& m_;
};

class FakeProcess final : public Process {
  public:
    explicit FakeProcess(Machine& m) : m_(m) {}
    int64_t Shell(const std::string& commandLine, WindowStyle style) override {
        m_.log.push_back("Shell");
        if (m_.failStart) {
            throw AppError(m_.failStart);
        }
        if (m_.programsOnDisk) {
            const FileEntry* f = m_.Find(ProgramOf(commandLine));
            if (!f || f->folder) {
                throw AppError(kErrFileNotFound);
            }
            if (!f->program) {
                throw AppError(kErrPermissionDenied);
            }
        }
        lastStyle = style;
        m_.started.push_back(commandLine);
        return 42;
    }
    WindowStyle lastStyle{};

  private:
    // The program's path: quoted, or up to the first blank.
    static std::string ProgramOf(const std::string& commandLine) {
        if (!commandLine.empty() && commandLine[0] == '"') {
            return commandLine.substr(1, commandLine.find('"', 1) - 1);
        }
        return commandLine.substr(0, commandLine.find_first_of(" \t"));
    }
    Machine& m_;
};

class FakeRecordset final : public Recordset {
  public:
    FakeRecordset(Machine& m, Table& table, std::vector<std::size_t> rows, bool updatable,
                  std::string name)
        : m_(m), table_(table), rows_(std::move(rows)), updatable_(updatable), name_(name) {}
    ~FakeRecordset() override {
        if (!closed_) {
            m_.log.push_back("ReleaseRecordset " + name_);
        }
    }
    bool Bof() override { return rows_.empty(); }
    bool Eof() override { return rows_.empty(); }
    FieldValue Field(const std::string& field) override {
        Require(field);
        if (rows_.empty()) {
            throw AppError(kErrEngineNoCurrentRecord);
        }
        auto& row = table_.rows[rows_.front()];
        auto it = row.find(field);
        return it == row.end() ? FieldValue{Null{}} : it->second;
    }
    void Edit() override {
        if (!updatable_) {
            throw AppError(kErrEngineReadOnly);
        }
        editing_ = true;
    }
    void SetField(const std::string& field, const FieldValue& value) override {
        Require(field);
        if (!editing_) {
            throw AppError(kErrEngineNotEditing);
        }
        buffer_[field] = value;
    }
    void Update(UpdateType) override {
        if (!editing_) {
            throw AppError(kErrEngineNotEditing);
        }
        m_.log.push_back("Update " + name_);
        for (auto& [k, v] : buffer_) {
            table_.rows[rows_.front()][k] = v;
        }
        editing_ = false;
    }
    void Close() override {
        closed_ = true;
        m_.log.push_back("CloseRecordset " + name_);
    }

  private:
    void Require(const std::string& field) const {
        if (std::find(table_.columns.begin(), table_.columns.end(), field) ==
            table_.columns.end()) {
            throw AppError(kErrEngineItemNotFound);
        }
    }
    Machine& m_;
    Table& table_;
    std::vector<std::size_t> rows_;
    bool updatable_;
    std::string name_;
    bool editing_ = false;
    bool closed_ = false;
    std::map<std::string, FieldValue> buffer_;
};

class FakeDatabase final : public Database {
  public:
    FakeDatabase(Machine& m, std::string path) : m_(m), path_(std::move(path)) {}
    ~FakeDatabase() override {
        if (!closed_) {
            m_.log.push_back("ReleaseDatabase " + path_);
        }
    }
    std::unique_ptr<Recordset> OpenRecordset(const std::string& source,
                                             RecordsetType type) override {
        m_.log.push_back("OpenRecordset " + path_ + " " + std::to_string(type));
        FileEntry* f = m_.Find(path_);
        if (!f || !f->database) {
            throw AppError(kErrEngineFileNotFound);
        }
        std::string table = source;
        bool versionRow = false;
        if (source.rfind("SELECT ", 0) == 0) {
            const auto from = source.find(" From ") + 6;
            table = source.substr(from, source.find(' ', from) - from);
            versionRow = true;
        }
        auto it = f->database->tables.find(table);
        if (it == f->database->tables.end()) {
            throw AppError(kErrEngineTableMissing);
        }
        std::vector<std::size_t> rows;
        for (std::size_t i = 0; i < it->second.rows.size(); ++i) {
            const auto& row = it->second.rows[i];
            auto key = row.find("InfoKey");
            if (!versionRow ||
                (key != row.end() && key->second == FieldValue{std::string("Version")})) {
                rows.push_back(i);
            }
        }
        return std::make_unique<FakeRecordset>(m_, it->second, rows, type == kDbOpenDynaset,
                                               BaseName(path_) + ":" + table);
    }
    void Close() override {
        closed_ = true;
        m_.log.push_back("CloseDatabase " + path_);
    }

  private:
    Machine& m_;
    std::string path_;
    bool closed_ = false;
};

class FakeEngine final : public DBEngine {
  public:
    explicit FakeEngine(Machine& m) : m_(m) {}
    void SetSystemDB(const std::string& path) override {
        m_.engineSettings.push_back("SystemDB=" + path);
    }
    void SetDefaultUser(const std::string& user) override {
        m_.engineSettings.push_back("DefaultUser=" + user);
    }
    void SetDefaultPassword(const std::string& password) override {
        m_.engineSettings.push_back("DefaultPassword=" + password);
    }
    std::unique_ptr<Database> OpenDatabase(const std::string& path) override {
        m_.log.push_back("OpenDatabase " + path);
        const FileEntry* f = m_.Find(path);
        if (!f) {
            throw AppError(kErrEngineFileNotFound);
        }
        if (m_.refuseEveryOpen) {
            throw AppError(kErrEngineWorkgroupMissing);
        }
        if (!f->database) {
            throw AppError(kErrEngineNotDatabase);
        }
        return std::make_unique<FakeDatabase>(m_, path);
    }

  private:
    Machine& m_;
};

class FakeDatabaseService final : public DatabaseService {
  public:
    explicit FakeDatabaseService(Machine& m) : m_(m), engine_(m) {}
    DBEngine& Engine() override {
        if (m_.failEngine) {
            throw AppError(m_.failEngine);
        }
        ++created;
        return engine_;
    }
    bool HasDatabaseSignature(const std::string& path) override {
        const FileEntry* f = m_.Find(path);
        return f && (f->database || f->signature);
    }
    int created = 0;

  private:
    Machine& m_;
    FakeEngine engine_;
};

// One fake machine with all its ports.
struct Fixture {
    Machine m;
    FakeApplication app{m};
    FakeFiles files{m};
    FakeRegistry registry{m};
    FakeShell shell{m};
    FakeScriptHost scriptHost{m};
    FakeProcess process{m};
    FakeDatabaseService database{m};
    Ports ports{app, files, registry, shell, scriptHost, process, database};
};

// A database file with a stamp table holding one "Version" row.
inline FileEntry StampedDatabase(const FieldValue& stamp,
                                 const std::string& table = "T00_製品情報") {
    FileEntry f;
    f.database.emplace();
    f.database->tables[table] = Table{
        {"InfoKey", "InfoValue"}, {{{"InfoKey", std::string("Version")}, {"InfoValue", stamp}}}};
    return f;
}

inline FileEntry Folder() {
    FileEntry f;
    f.folder = true;
    return f;
}
inline FileEntry Hidden() {
    FileEntry f;
    f.hidden = true;
    return f;
}
inline FileEntry System() {
    FileEntry f;
    f.system = true;
    return f;
}
// A file that another process holds: it cannot be deleted.
inline FileEntry Held(bool hidden = false) {
    FileEntry f;
    f.undeletable = true;
    f.hidden = hidden;
    return f;
}

inline FileEntry PlainFile(int64_t mtime) {
    FileEntry f;
    f.mtime = mtime;
    return f;
}

}  // namespace p2::fake
