// MakePlan: a start's update passes run on ports that record instead of acting.
#include "tools/plan/Plan.h"

#include <cstdlib>
#include <exception>
#include <memory>
#include <string_view>
#include <utility>
#include <variant>

#include "launcher/ShowError.h"
#include "platform/Error.h"
#include "platform/ErrorCatalogue.h"
#include "platform/Handler.h"
#include "platform/ports/Ports.h"
#include "update/CarryOver.h"
#include "update/FileUpdate.h"
#include "update/GetP2S_VerInfo.h"

namespace p2::plan {
namespace {

constexpr const char* kFolders[] = {"SYSTEM", "LAN"};
constexpr const char* kErrorBoxLead = "ｴﾗｰNo. ";

// Runs `step`, hands its error number (0 when it succeeded) to `record`, and passes a
// failure on unchanged.
template <class Step, class Record>
auto Recorded(Step&& step, Record&& record) {
    try {
        auto result = step();
        record(0);
        return result;
    } catch (const std::exception& e) {
        record(ErrorNumberOf(e));
        throw;
    }
}

// Collects what the pass does into the plan of the folder it works on.
class Log {
  public:
    explicit Log(char separator) : sep_(separator) {}

    void BeginFolder(FolderPlan& folder, const std::string& path) {
        folder_ = &folder;
        folderPath_ = path;
        current_ = nullptr;
        folder.reached = true;
    }

    void Listed(const std::string& updateFolder, const std::vector<std::string>& names) {
        if (folder_ && updateFolder == folder_->updateFolder) {
            for (const std::string& name : names) {
                folder_->files.push_back(FilePlan{.name = name});
            }
        }
    }

    // The copy that `path` names, and makes its file the current one; null for other paths.
    Copy* CopyOf(const std::string& path) {
        if (!folder_) {
            return nullptr;
        }
        const std::string incomingLead = folder_->updateFolder + sep_;
        const std::string installedLead = folderPath_ + sep_;
        const bool incoming = path.starts_with(incomingLead);
        if (!incoming && !path.starts_with(installedLead)) {
            return nullptr;
        }
        const std::string name = path.substr((incoming ? incomingLead : installedLead).size());
        for (FilePlan& file : folder_->files) {
            if (file.name == name) {
                current_ = &file;
                file.touched = true;
                return incoming ? &file.delivered : &file.installed;
            }
        }
        return nullptr;
    }
    FilePlan* Current() { return current_; }

    void Box(const std::string& text) {
        if (text.starts_with("\"") && text.ends_with(kUpdateFailedMessage)) {
            if (current_) {
                current_->failureMessage = true;
            }
            return;
        }
        Failure failure;
        if (text.starts_with(kErrorBoxLead)) {
            const std::string rest = text.substr(std::string(kErrorBoxLead).size());
            failure.number = static_cast<int32_t>(std::strtol(rest.c_str(), nullptr, 10));
            const auto open = rest.find("【");
            const auto close = rest.find("】");
            if (open != std::string::npos && close != std::string::npos && close > open) {
                failure.tag = rest.substr(open + 3, close - open - 3);
            }
            failure.text = StandardErrorText(failure.number);
        } else {
            failure.text = text;
        }
        if (current_) {
            current_->errors.push_back(failure);
        } else if (folder_) {
            folder_->errors.push_back(failure);
        }
    }

    void Moved(const std::string& from, int32_t answer, bool installedInUse, bool deliveredInUse,
               bool deliveredBeingWritten) {
        CopyOf(from);
        if (current_) {
            current_->moveTried = true;
            current_->moveAnswer = answer;
            current_->installedInUse = installedInUse;
            current_->deliveredInUse = deliveredInUse;
            current_->deliveredBeingWritten = deliveredBeingWritten;
        }
    }
    void Deleted(const std::string& path) {
        CopyOf(path);
        if (current_) {
            current_->deleted = true;
        }
    }

    void Completed() {
        if (folder_) {
            folder_->completed = true;
        }
    }

  private:
    char sep_;
    FolderPlan* folder_ = nullptr;
    std::string folderPath_;
    FilePlan* current_ = nullptr;
};

std::string FirstPath(const std::string& list) {
    return list.substr(0, list.find('\0'));
}

class RecordingApplication final : public Application {
  public:
    RecordingApplication(Log& log, std::string programFolder)
        : log_(log), programFolder_(std::move(programFolder)) {}
    void SetTitle(const std::string&) override {}
    bool PrevInstance() override { return false; }
    std::string ProgramFolder() override { return programFolder_; }
    std::string ArgumentText() override { return {}; }
    void MessageBox(const std::string& text, MessageStyle) override { log_.Box(text); }

  private:
    Log& log_;
    std::string programFolder_;
};

// Reads for real; refuses to delete.
class RecordingFiles final : public Files {
  public:
    RecordingFiles(Log& log, Files& files) : log_(log), files_(files) {}
    char Separator() const override { return files_.Separator(); }
    std::string Lookup(const std::string& path, int attributes) override {
        std::string found = files_.Lookup(path, attributes);
        if (Copy* copy = log_.CopyOf(path)) {
            copy->missing = found.empty();
        }
        return found;
    }
    std::vector<std::string> ListFiles(const std::string& folder) override {
        std::vector<std::string> names = files_.ListFiles(folder);
        log_.Listed(folder, names);
        return names;
    }
    int64_t ModificationTime(const std::string& path) override {
        Copy* copy = log_.CopyOf(path);
        if (copy) {
            log_.Current()->timeRoute = true;
            copy->timeRead = true;
        }
        const int64_t time = Recorded([&] { return files_.ModificationTime(path); },
                                      [&](int32_t number) {
                                          if (copy) {
                                              copy->timeError = number;
                                              copy->missing = number == kErrFileNotFound;
                                          }
                                      });
        if (copy) {
            copy->modified = time;
        }
        return time;
    }
    void DeleteFile(const std::string&) override { throw AppError(kErrPermissionDenied); }

  private:
    Log& log_;
    Files& files_;
};

class RecordingShell final : public ShellFileOperation {
  public:
    RecordingShell(Log& log, FileOpCheck& check) : log_(log), check_(check) {}
    int32_t Run(const FileOpRequest& request) override {
        const int32_t answer = check_.Answer(request);
        const std::string from = FirstPath(request.from);
        if (request.func == kFoMove) {
            const std::string to = FirstPath(request.to);
            log_.Moved(from, answer, answer != 0 && check_.InUse(to),
                       answer != 0 && check_.InUse(from),
                       answer != 0 && check_.OpenForWriting(from));
        } else {
            log_.Deleted(from);
        }
        return answer;
    }

  private:
    Log& log_;
    FileOpCheck& check_;
};

// Reads through the read-only engine; a write is checked as the engine would check it and
// recorded instead of made.
class RecordingRecordset final : public Recordset {
  public:
    RecordingRecordset(Log& log, std::string path, std::unique_ptr<Recordset> inner,
                       RecordsetType type)
        : log_(log), path_(std::move(path)), inner_(std::move(inner)), type_(type) {}
    bool Bof() override { return inner_->Bof(); }
    bool Eof() override { return inner_->Eof(); }
    FieldValue Field(const std::string& name) override {
        FieldValue value = inner_->Field(name);
        Copy* copy = log_.CopyOf(path_);
        if (copy && name == "InfoValue") {
            copy->noRow = false;
            copy->stampText =
                std::holds_alternative<Null>(value) ? std::string("0") : FieldText(value);
            ErrorOf([&] { copy->stamp = StampNumber(*copy->stampText); });
        }
        return value;
    }
    void Edit() override {
        if (type_ != kDbOpenDynaset) {
            throw AppError(kErrEngineReadOnly);
        }
        if (inner_->Bof() && inner_->Eof()) {
            throw AppError(kErrEngineNoCurrentRecord);
        }
        editing_ = true;
    }
    void SetField(const std::string& name, const FieldValue&) override {
        inner_->Field(name);  // a missing field fails as it would in the start
        if (!editing_) {
            throw AppError(kErrEngineNotEditing);
        }
        edited_ = true;
    }
    void Update(UpdateType type) override {
        if (type != kDbUpdateRegular) {
            throw AppError(kErrInvalidArgument);
        }
        if (!editing_) {
            throw AppError(kErrEngineNotEditing);
        }
        log_.CopyOf(path_);
        if (edited_ && log_.Current()) {
            log_.Current()->carriedOver = true;
        }
        editing_ = false;
    }
    void Close() override { inner_->Close(); }

  private:
    Log& log_;
    std::string path_;
    std::unique_ptr<Recordset> inner_;
    RecordsetType type_;
    bool editing_ = false;
    bool edited_ = false;
};

class RecordingDatabase final : public Database {
  public:
    RecordingDatabase(Log& log, std::string path, std::unique_ptr<Database> inner)
        : log_(log), path_(std::move(path)), inner_(std::move(inner)) {}
    std::unique_ptr<Recordset> OpenRecordset(const std::string& source,
                                             RecordsetType type) override {
        auto recordset = Recorded([&] { return inner_->OpenRecordset(source, type); },
                                  [&](int32_t number) { Note(source, number); });
        return std::make_unique<RecordingRecordset>(log_, path_, std::move(recordset), type);
    }
    void Close() override { inner_->Close(); }

  private:
    void Note(const std::string& source, int32_t number) {
        Copy* copy = log_.CopyOf(path_);
        if (!copy) {
            return;
        }
        const bool current = source == kStampQueryCurrent;
        if (current || source == kStampQueryOlder) {
            copy->stampRead = true;
            if (number == 0) {
                copy->table = current ? "T00_製品情報" : "DB情報";
                copy->noRow = true;  // until a row's value is read
            } else if (number == kErrEngineTableMissing && !current) {
                copy->table.clear();
                copy->stamp = 0;
            }
        } else if (source == kOptionTable && number == 0 && copy == &log_.Current()->delivered) {
            log_.Current()->carryOverOpened = true;
        }
    }
    Log& log_;
    std::string path_;
    std::unique_ptr<Database> inner_;
};

class RecordingEngine final : public DBEngine {
  public:
    RecordingEngine(Log& log, DBEngine& inner) : log_(log), inner_(inner) {}
    void SetSystemDB(const std::string& path) override { inner_.SetSystemDB(path); }
    void SetDefaultUser(const std::string& user) override { inner_.SetDefaultUser(user); }
    void SetDefaultPassword(const std::string& password) override {
        inner_.SetDefaultPassword(password);
    }
    std::unique_ptr<Database> OpenDatabase(const std::string& path) override {
        auto database = std::make_unique<RecordingDatabase>(log_, path, inner_.OpenDatabase(path));
        if (Copy* copy = log_.CopyOf(path)) {
            copy->opened = true;
        }
        return database;
    }

  private:
    Log& log_;
    DBEngine& inner_;
};

class RecordingDatabaseService final : public DatabaseService {
  public:
    RecordingDatabaseService(Log& log, DatabaseService& inner) : log_(log), inner_(inner) {}
    DBEngine& Engine() override {
        if (!engine_) {
            engine_ = std::make_unique<RecordingEngine>(log_, inner_.Engine());
        }
        return *engine_;
    }
    bool HasDatabaseSignature(const std::string& path) override {
        const bool signature = inner_.HasDatabaseSignature(path);
        if (Copy* copy = log_.CopyOf(path)) {
            copy->signature = signature;
        }
        return signature;
    }

  private:
    Log& log_;
    DatabaseService& inner_;
    std::unique_ptr<RecordingEngine> engine_;
};

// The update pass needs none of these: they refuse, so that nothing can act through them.
class NoRegistry final : public Registry {
  public:
    long OpenKey(uint32_t, const std::string&, uint32_t, RegKey&) override {
        return kRegAccessDenied;
    }
    long QueryValue(RegKey, const std::string&, uint32_t&, unsigned char*, uint32_t&) override {
        return kRegAccessDenied;
    }
    long CloseKey(RegKey) override { return kRegSuccess; }
    std::string DecodeText(std::string_view bytes) override { return std::string(bytes); }
};
class NoScriptHost final : public ScriptHost {
  public:
    std::unique_ptr<ScriptShell> CreateShell() override { throw AppError(kErrCannotCreateObject); }
};
class NoProcess final : public Process {
  public:
    int64_t Shell(const std::string&, WindowStyle) override {
        throw AppError(kErrPermissionDenied);
    }
};

void Settle(FolderPlan& folder) {
    bool stopped = false;
    for (FilePlan& file : folder.files) {
        if (!folder.reached || stopped) {
            file.action = Action::kStays;
        } else if (file.moveTried && file.moveAnswer == 0) {
            file.action = Action::kReplace;
        } else if (file.deleted) {
            file.action = Action::kDiscard;
        } else {
            file.action = folder.completed ? Action::kStays : Action::kStop;
            stopped = true;
        }
    }
}

}  // namespace

bool Plan::Completes() const {
    for (const FolderPlan& folder : folders) {
        if (!folder.completed) {
            return false;
        }
    }
    return true;
}

Plan MakePlan(const std::string& installRoot, const std::string& programFolder, Files& files,
              DatabaseService& database, FileOpCheck& check) {
    Plan plan;
    plan.installRoot = installRoot;
    const char sep = files.Separator();
    for (const char* name : kFolders) {
        plan.folders.push_back(
            FolderPlan{.name = name, .updateFolder = installRoot + name + sep + kUpdateFolderName});
    }

    Log log(sep);
    RecordingApplication app(log, programFolder);
    RecordingFiles recordingFiles(log, files);
    NoRegistry registry;
    RecordingShell shell(log, check);
    NoScriptHost scriptHost;
    NoProcess process;
    RecordingDatabaseService recordingDatabase(log, database);
    Ports ports{app, recordingFiles, registry, shell, scriptHost, process, recordingDatabase};

    // As the start runs them: LAN only after SYSTEM got through, under the start's handler.
    Guarded(ports, "mMain-Main", [&] {
        for (FolderPlan& folder : plan.folders) {
            const std::string path = installRoot + folder.name;
            log.BeginFolder(folder, path);
            if (!FileUpdate(ports, path)) {
                return;
            }
            log.Completed();
        }
    });

    for (FolderPlan& folder : plan.folders) {
        if (!folder.reached) {
            // Listed only to say what stays; a folder that cannot be listed shows nothing.
            ErrorOf([&] {
                for (const std::string& name : files.ListFiles(folder.updateFolder)) {
                    folder.files.push_back(FilePlan{.name = name});
                }
            });
        }
        Settle(folder);
    }
    return plan;
}

}  // namespace p2::plan
