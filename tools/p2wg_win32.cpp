// p2wg.exe: on Windows the plan alone, what the next start will do with each delivery (the
// workgroup files there are the Access engine's own, kept with its administrator).
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/win32/Api_win32.h"
#include "platform/win32/PlanPorts_win32.h"
#include "platform/win32/Ports_win32.h"
#include "platform/win32/Text_win32.h"
#include "tools/plan/Plan.h"

namespace {

using p2::win32::Narrow;
using p2::win32::Widen;

void Write(FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string FolderOf(const std::string& path) {
    const auto last = path.rfind('\\');
    return last == std::string::npos ? std::string() : path.substr(0, last);
}

std::string FullPath(const std::string& path) {
    const std::wstring wide = Widen(path);
    std::wstring full(32768, L'\0');
    const DWORD n =
        GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0 || n >= full.size()) {
        return {};
    }
    full.resize(n);
    while (full.size() > 3 && full.back() == L'\\') {
        full.pop_back();
    }
    return Narrow(full);
}

bool Listable(const std::string& folder) {
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW(Widen(folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(find);
    return true;
}

int Run(const std::vector<std::string>& args) {
    using namespace p2::plan;
    const auto request =
        args.empty() || args[0] != "plan"
            ? std::nullopt
            : ParseArguments(std::vector<std::string>(args.begin() + 1, args.end()));
    if (!request) {
        Write(stderr, kUsage);
        return kExitCannot;
    }
    std::string root = request->root.value_or("");
    std::string programFolder = request->programFolder.value_or("");
    if (!request->root) {
        // The installation of the launcher beside this tool.
        std::wstring self(32768, L'\0');
        const DWORD n = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
        self.resize(n < self.size() ? n : 0);
        const std::string own = FolderOf(Narrow(self));
        const DWORD launcher = GetFileAttributesW(Widen(own + "\\Pelorin2.exe").c_str());
        if (own.empty() || launcher == INVALID_FILE_ATTRIBUTES) {
            Write(stderr, "p2wg: no Pelorin2.exe beside p2wg.exe: name the install root\n");
            return kExitCannot;
        }
        programFolder = request->programFolder.value_or(own);
        root = FolderOf(own);
    }
    const std::string full = FullPath(root);
    if (full.empty() || !IsFolder(full) || !Listable(full)) {
        Write(stderr, "p2wg: " + root + ": not a readable folder\n");
        return kExitCannot;
    }
    if (programFolder.empty()) {
        programFolder = full + (full.back() == '\\' ? "" : "\\") + "Pelorin2";
    }
    if (!IsFolder(programFolder)) {
        Write(stderr,
              "p2wg: " + programFolder + ": no program folder (name it with --program-folder)\n");
        return kExitCannot;
    }
    p2::win32::Win32Files files;
    p2::win32::Win32DatabaseService database(true);
    p2::win32::Win32FileOpCheck check;
    const Plan plan = MakePlan(full.back() == '\\' ? full : full + "\\", FullPath(programFolder),
                               files, database, check);
    Write(stdout, request->json ? FormatJson(plan) : FormatText(plan));
    return plan.Completes() ? kExitCompletes : kExitStops;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // UTF-8 as it is, line feeds unchanged: the same bytes as on Linux.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    try {
        for (int i = 1; i < argc; ++i) {
            args.push_back(Narrow(argv[i]));
        }
        return Run(args);
    } catch (const std::exception& e) {
        Write(stderr, "p2wg: error " + std::to_string(p2::ErrorNumberOf(e)) + "\n");
    }
    return p2::plan::kExitCannot;
}
