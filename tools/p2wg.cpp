// p2wg: makes and keeps the engine's workgroup files, secures databases, and reads a
// database's version stamp the way the program does.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "launcher/Workgroup.h"
#include "platform/Error.h"
#include "platform/posix/Machine_posix.h"
#include "platform/posix/PlanPorts_posix.h"
#include "platform/posix/WorkgroupFile_posix.h"
#include "tools/plan/Plan.h"
#include "update/GetP2S_VerInfo.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitFailure = 2;

const char* kUsage =
    "usage: p2wg create <wgf>\n"
    "       p2wg create-shipping <wgf>\n"
    "       p2wg add-account <wgf> <name> <password | ->\n"
    "       p2wg remove-account <wgf> <name>\n"
    "       p2wg secure <database> <account>...\n"
    "       p2wg stamp <database> [--program-folder <dir>]\n"
    "       p2wg plan [<install root>] [--program-folder <dir>] [--json]\n";

std::string Describe(int32_t number) {
    switch (number) {
        case 5:
            return "invalid account name";
        case 58:
            return "already exists";
        case 70:
            return "permission denied";
        case 75:
        case 76:
            return "cannot write the file or its folder";
        case p2::kErrEngineFileNotFound:
            return "file not found";
        case p2::kErrEngineWorkgroupMissing:
            return "not a workgroup file";
        case p2::kErrEngineAccountRefused:
            return "no such account";
        case p2::kErrEngineInUse:
        case p2::kErrEngineLocked:
            return "file is in use";
        case p2::kErrEngineCannotOpen:
            return "file cannot be opened";
        case p2::kErrEngineReadOnly:
            return "file is read-only";
        case p2::kErrEngineNotDatabase:
            return "not a database";
        default:
            return "error " + std::to_string(number);
    }
}

class ToolApplication final : public p2::Application {
  public:
    explicit ToolApplication(std::string folder) : folder_(std::move(folder)) {}
    void SetTitle(const std::string&) override {}
    bool PrevInstance() override { return false; }
    std::string ProgramFolder() override { return folder_; }
    std::string ArgumentText() override { return {}; }
    void MessageBox(const std::string& text, p2::MessageStyle style) override {
        std::string shown;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text.compare(i, 2, "\r\n") == 0) {
                ++i;
                shown += '\n';
            } else {
                shown += text[i];
            }
        }
        std::cerr << "ペロリンⅡ " << (style == p2::kStyleCritical ? "[stop]" : "[exclamation]")
                  << '\n'
                  << shown << '\n';
    }

  private:
    std::string folder_;
};

std::string OwnFolder() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

int Stamp(const std::vector<std::string>& args) {
    std::string folder = OwnFolder();
    if (args.size() == 4 && args[2] == "--program-folder") {
        folder = args[3];
    } else if (args.size() != 2) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    // The launcher's own ports, but the program folder is the one named here and a box is a
    // line on standard error.
    p2::posix::PosixMachine machine({});
    ToolApplication app(folder);
    p2::Ports ports{app,
                    machine.files,
                    machine.registry,
                    machine.shell,
                    machine.scriptHost,
                    machine.process,
                    machine.database};
    std::cout << p2::GetP2S_VerInfo(ports, args[1]) << '\n';
    return kExitOk;
}

// What the next start would do with each delivery; exit 0 when it gets through both
// folders, 1 when it stops, 2 for bad usage or an installation that cannot be read.
int Plan(const std::vector<std::string>& args) {
    namespace fs = std::filesystem;
    const auto request =
        p2::plan::ParseArguments(std::vector<std::string>(args.begin() + 1, args.end()));
    if (!request) {
        std::cerr << p2::plan::kUsage;
        return p2::plan::kExitCannot;
    }
    std::optional<std::string> root = request->root;
    std::optional<std::string> programFolder = request->programFolder;
    std::error_code error;
    if (!root) {
        // The installation of the launcher beside this tool, as it finds its own folder.
        const fs::path launcher = fs::canonical(fs::path(OwnFolder()) / "Pelorin2", error);
        if (error) {
            std::cerr << "p2wg: no Pelorin2 beside p2wg: name the install root\n";
            return p2::plan::kExitCannot;
        }
        programFolder = programFolder.value_or(launcher.parent_path().string());
        root = launcher.parent_path().parent_path().string();
    }
    std::string rootText = fs::absolute(*root, error).lexically_normal().string();
    while (rootText.size() > 1 && rootText.back() == '/') {
        rootText.pop_back();
    }
    const bool folder = !error && fs::is_directory(rootText, error);
    if (folder) {
        fs::directory_iterator listing(rootText, error);
    }
    if (!folder || error) {
        std::cerr << "p2wg: " << *root << ": not a readable folder\n";
        return p2::plan::kExitCannot;
    }
    const std::string program = programFolder.value_or(rootText + "/Pelorin2");
    if (!fs::is_directory(program, error)) {
        std::cerr << "p2wg: " << program << ": no program folder (name it with --program-folder)\n";
        return p2::plan::kExitCannot;
    }
    p2::posix::PosixFiles files;
    p2::posix::SqliteDatabaseService database(nullptr, true);
    p2::posix::PosixFileOpCheck check;
    const p2::plan::Plan plan = p2::plan::MakePlan(rootText == "/" ? rootText : rootText + "/",
                                                   program, files, database, check);
    std::cout << (request->json ? p2::plan::FormatJson(plan) : p2::plan::FormatText(plan));
    return plan.Completes() ? p2::plan::kExitCompletes : p2::plan::kExitStops;
}

std::string ReadPassword(const std::string& given) {
    if (given != "-") {
        return given;
    }
    std::string line;
    std::getline(std::cin, line);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

int Run(const std::vector<std::string>& args) {
    const std::string command = args.empty() ? std::string() : args[0];
    const std::size_t n = args.size();
    if (command == "create" && n == 2) {
        p2::posix::CreateWorkgroupFile(args[1]);
    } else if (command == "create-shipping" && n == 2) {
        p2::posix::CreateWorkgroupFile(args[1]);
        try {
            p2::posix::AddWorkgroupAccount(args[1], p2::GetWorkgroupUser(),
                                           p2::GetWorkgroupPassword());
        } catch (...) {
            unlink(args[1].c_str());  // half a shipping file is worse than none
            throw;
        }
    } else if (command == "add-account" && n == 4) {
        p2::posix::AddWorkgroupAccount(args[1], args[2], ReadPassword(args[3]));
    } else if (command == "remove-account" && n == 3) {
        p2::posix::RemoveWorkgroupAccount(args[1], args[2]);
    } else if (command == "secure" && n >= 3) {
        p2::posix::SecureDatabase(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    } else if (command == "plan") {
        return Plan(args);
    } else if (command == "stamp" && n >= 2) {
        return Stamp(args);
    } else {
        std::cerr << kUsage;
        return kExitUsage;
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        return Run(args);
    } catch (const p2::AppError& e) {
        std::cerr << "p2wg: " << (args.size() > 1 ? args[1] + ": " : "") << Describe(e.number())
                  << '\n';
    } catch (const std::exception& e) {
        std::cerr << "p2wg: " << e.what() << '\n';
    }
    return kExitFailure;
}
