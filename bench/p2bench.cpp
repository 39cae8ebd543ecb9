// The launcher's benchmarks against the physical floor; each prints one row of the table
// that tools/bench.sh puts together.
//
//   p2bench start [RUNS]         (a) full start of the launcher against a bare start of Access
//   p2bench plain N newer|mix [RUNS]
//                                (b) update pass over N plain files against rename/unlink alone
//   p2bench db N [RUNS]          (c) update pass over N stamped databases against SQLite alone
//   p2bench scale N [RUNS]       (d) the launcher end to end over N plain files: time, memory
//   p2bench calls N newer|mix [BYTES]
//                                (e) system calls per delivered plain file of BYTES bytes (0):
//                                strace -f -c over a whole start with N deliveries minus one
//                                without
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Floor.h"
#include "Harness.h"
#include "launcher/Workgroup.h"
#include "platform/posix/Machine_posix.h"
#include "update/FileUpdate.h"

namespace p2bench {
namespace {

constexpr int64_t kInstalledTime = 1'600'000'000;
constexpr int64_t kStep = 100;

// "<prefix><i, zero-padded to `width`><suffix>"
std::string Named(char prefix, int i, int width, const char* suffix) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%c%0*d%s", prefix, width, i, suffix);
    return buffer;
}

std::string Fmt(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, value < 10 ? "%.2f" : "%.1f", value);
    return buffer;
}

void Progress(const std::string& text) {
    std::fprintf(stderr, "  %s\n", text.c_str());
}

// ---- plain files -------------------------------------------------------------------------

// "n…" newer than its installed copy, "o…" older; a mix alternates them.
std::string PlainName(int i, bool mix) {
    return Named(mix && i % 2 ? 'o' : 'n', i, 6, ".dat");
}

// Empty files: what the pass does per file is metadata work, and freeing data blocks (the
// same for the pass and its floor) would only add the disk's noise.
void DeliverPlain(const std::string& folder, int count, bool mix, std::size_t bytes = 0) {
    const std::string content(bytes, 'x');
    for (int i = 0; i < count; ++i) {
        const std::string name = PlainName(i, mix);
        const bool newer = name[0] == 'n';
        WriteFile(folder + "/" + name, "", kInstalledTime);
        WriteFile(folder + "/UPDATE/" + name, content,
                  newer ? kInstalledTime + kStep : kInstalledTime - kStep);
    }
}

// The installed file's time tells which copy stands there.
void CheckPlain(const std::string& folder, int count, bool mix) {
    if (!ListNames(folder + "/UPDATE").empty()) {
        throw std::runtime_error("files were left in " + folder + "/UPDATE");
    }
    for (int i = 0; i < count; ++i) {
        const std::string name = PlainName(i, mix);
        const int64_t expected = name[0] == 'n' ? kInstalledTime + kStep : kInstalledTime;
        if (ModificationTime(folder + "/" + name) != expected) {
            throw std::runtime_error("wrong result for " + name);
        }
    }
}

// ---- databases ---------------------------------------------------------------------------

std::string DatabaseName(int i) {
    return Named('n', i, 4, ".mdb");
}

struct Templates {
    std::string installed;
    std::string delivered;
};

Templates MakeTemplates(const std::string& scratch) {
    MakeStampedDatabase(scratch + "/installed.mdb", "AB100");
    MakeStampedDatabase(scratch + "/delivered.mdb", "AB101");
    return {ReadFile(scratch + "/installed.mdb"), ReadFile(scratch + "/delivered.mdb")};
}

void DeliverDatabases(const std::string& folder, int count, const Templates& templates) {
    for (int i = 0; i < count; ++i) {
        WriteFile(folder + "/" + DatabaseName(i), templates.installed, kInstalledTime);
        WriteFile(folder + "/UPDATE/" + DatabaseName(i), templates.delivered, kInstalledTime);
    }
}

void CheckDatabases(const std::string& folder, int count, const Templates& templates) {
    if (!ListNames(folder + "/UPDATE").empty()) {
        throw std::runtime_error("files were left in " + folder + "/UPDATE");
    }
    for (int i = 0; i < count; ++i) {
        if (ReadFile(folder + "/" + DatabaseName(i)) != templates.delivered) {
            throw std::runtime_error("wrong result for " + DatabaseName(i));
        }
    }
}

// ---- the measured bodies -----------------------------------------------------------------

struct PassContext {
    std::string folder;
    bool floorOnly = false;
    bool databases = false;
};

// The update pass of the launcher through the POSIX ports, or the floor, in this process.
double TimedPass(void* raw) {
    const auto& context = *static_cast<PassContext*>(raw);
    p2::posix::PosixMachine machine({});
    p2::Ports& ports = machine.ports;
    const double start = NowMs();
    if (context.floorOnly) {
        context.databases ? DatabaseFloor(context.folder) : PlainFloor(context.folder);
    } else if (!p2::FileUpdate(ports, context.folder)) {
        throw std::runtime_error("the update pass failed");
    }
    return NowMs() - start;
}

// ---- the benchmarks ----------------------------------------------------------------------

void Start(int runs) {
    Install install(P2_BIN_DIR);
    const std::vector<std::string> launcher{install.Launcher(), "main.mdb"};
    const std::vector<std::string> bare{
        install.AccessExe(),       "/Runtime", install.Target(),       "/Wrkgrp",
        install.Workgroup(),       "/User",    p2::GetWorkgroupUser(), "/Pwd",
        p2::GetWorkgroupPassword()};
    std::vector<double> full, exit, alone;
    // Interleaved, so that a change in the machine's load touches both alike.
    for (int i = 0; i < runs + 1; ++i) {
        const Run a = RunProgram(launcher, install.Environment(), install.Log());
        const Run b = RunProgram(bare, install.Environment(), install.Log());
        if (a.status != 0 || b.status != 0 || ReadFile(install.Log()) != "") {
            throw std::runtime_error("a start failed: " + ReadFile(install.Log()));
        }
        if (i > 0) {  // the first pair only warms the caches
            full.push_back(a.allMs);
            exit.push_back(a.exitMs);
            alone.push_back(b.allMs);
        }
    }
    const double overhead = Median(full) - Median(alone);
    std::printf(
        "| (a) start, empty update folders | %s ms (launcher itself exits after %s ms) | %s ms "
        "(stand-in Access alone) | +%s ms | < 5 ms | %s |\n",
        Fmt(Median(full)).c_str(), Fmt(Median(exit)).c_str(), Fmt(Median(alone)).c_str(),
        Fmt(overhead).c_str(), overhead < 5 ? "met" : "missed");
}

void Deliver(const Install& install, int count, bool databases, bool mix,
             const Templates& templates) {
    install.ResetFolders();
    databases ? DeliverDatabases(install.System(), count, templates)
              : DeliverPlain(install.System(), count, mix);
    SyncFileSystem(install.Root());
}

void Check(const Install& install, int count, bool databases, bool mix,
           const Templates& templates) {
    databases ? CheckDatabases(install.System(), count, templates)
              : CheckPlain(install.System(), count, mix);
}

void Pass(int count, bool databases, bool mix, int runs) {
    Install install(P2_BIN_DIR);
    const Templates templates = databases ? MakeTemplates(install.Root()) : Templates{};
    PassContext context{install.System(), false, databases};
    std::vector<double> pass, floor, single;
    for (int i = 0; i < runs; ++i) {
        for (const bool floorOnly : {false, true}) {
            Deliver(install, count, databases, mix, templates);
            context.floorOnly = floorOnly;
            (floorOnly ? floor : pass).push_back(InFreshProcess(TimedPass, &context));
            Check(install, count, databases, mix, templates);
        }
        // One file: what every pass pays once, whatever its size (the workgroup check).
        Deliver(install, 1, databases, false, templates);
        context.floorOnly = false;
        single.push_back(InFreshProcess(TimedPass, &context));
        Check(install, 1, databases, false, templates);
        Progress("run " + std::to_string(i + 1) + ": pass " + Fmt(pass.back()) + " ms, floor " +
                 Fmt(floor.back()) + " ms, one file " + Fmt(single.back()) + " ms");
    }
    const double once = Median(single);
    const double ratio = Median(pass) / Median(floor);
    const double perFile = (Median(pass) - once) / Median(floor);
    const double goal = databases ? 2.0 : 1.5;
    const std::string what = databases ? std::to_string(count) + " databases, all newer"
                                       : std::to_string(count) + " plain files, " +
                                             (mix ? "half newer, half older" : "all newer");
    std::printf(
        "| (%s) update pass, %s | %s ms (of which %s ms once per start) | %s ms | %s× "
        "(%s× without the once-per-start part) | ≤ %s× | %s |\n",
        databases ? "c" : "b", what.c_str(), Fmt(Median(pass)).c_str(), Fmt(once).c_str(),
        Fmt(Median(floor)).c_str(), Fmt(ratio).c_str(), Fmt(perFile).c_str(), Fmt(goal).c_str(),
        ratio <= goal ? "met" : "missed");
}

void Scale(int count, int runs) {
    Install install(P2_BIN_DIR);
    const std::vector<std::string> launcher{install.Launcher(), "main.mdb"};
    std::vector<double> times, floors;
    long rss = 0;
    PassContext context{install.System(), true, false};
    for (int i = 0; i < runs; ++i) {
        Deliver(install, count, false, true, {});
        const Run run = RunProgram(launcher, install.Environment(), install.Log());
        if (run.status != 0 || ReadFile(install.Log()) != "") {
            throw std::runtime_error("the launcher failed: " + ReadFile(install.Log()));
        }
        Check(install, count, false, true, {});
        times.push_back(run.exitMs);
        rss = std::max(rss, run.maxRssKiB);

        Deliver(install, count, false, true, {});
        floors.push_back(InFreshProcess(TimedPass, &context));
        Check(install, count, false, true, {});
        Progress("run " + std::to_string(i + 1) + ": launcher " + Fmt(times.back()) +
                 " ms, floor " + Fmt(floors.back()) + " ms, peak " + std::to_string(rss) + " KiB");
    }
    const double ms = Median(times);
    const double mib = static_cast<double>(rss) / 1024;
    std::printf(
        "| (d) launcher end to end, %d plain files (half newer) | %s ms (%s µs/file) | %s ms | "
        "peak RSS %s MiB | linear; < 64 MiB | %s |\n",
        count, Fmt(ms).c_str(), Fmt(ms * 1000 / count).c_str(), Fmt(Median(floors)).c_str(),
        Fmt(mib).c_str(), mib < 64 ? "memory met" : "memory missed");
}

// Calls per system call name from a summary that `strace -c` wrote.
std::map<std::string, long> ReadCallCounts(const std::string& path) {
    std::map<std::string, long> counts;
    std::istringstream lines(ReadFile(path));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;) {
            words.push_back(word);
        }
        // "% time seconds usecs/call calls [errors] syscall"
        if (words.size() >= 5 && std::isdigit(static_cast<unsigned char>(words[3][0])) &&
            words.back() != "total") {
            counts[words.back()] += std::atol(words[3].c_str());
        }
    }
    return counts;
}

std::string FindStrace() {
    for (const char* path : {"/usr/bin/strace", "/bin/strace"}) {
        if (ModificationTime(path) >= 0) {
            return path;
        }
    }
    throw std::runtime_error("strace is not installed");
}

// One start under `strace -f -c`, the launcher and the Access it starts alike.
std::map<std::string, long> CountedStart(const Install& install, const std::string& strace) {
    const std::string summary = install.Root() + "/strace.txt";
    const Run run =
        RunProgram({strace, "-f", "-c", "-o", summary, "--", install.Launcher(), "main.mdb"},
                   install.Environment(), install.Log());
    if (run.status != 0 || ReadFile(install.Log()) != "") {
        throw std::runtime_error("a counted start failed: " + ReadFile(install.Log()));
    }
    return ReadCallCounts(summary);
}

void Calls(int count, bool mix, int bytes) {
    const std::string strace = FindStrace();
    Install install(P2_BIN_DIR);
    install.ResetFolders();
    const std::map<std::string, long> bare = CountedStart(install, strace);
    install.ResetFolders();
    DeliverPlain(install.System(), count, mix, static_cast<std::size_t>(bytes));
    SyncFileSystem(install.Root());
    const std::map<std::string, long> full = CountedStart(install, strace);
    Check(install, count, false, mix, {});
    // Calls that come once a file or more are the file's; the rest (the listing's pages, the
    // heap for the names) is the share that the floor pays as well.
    long perFile = 0;
    long shared = 0;
    std::vector<std::pair<long, std::string>> shares;
    for (const auto& [name, calls] : full) {
        const auto found = bare.find(name);
        const long added = calls - (found == bare.end() ? 0 : found->second);
        if (added * 10 >= count) {
            perFile += added;
            shares.emplace_back(added, name);
        } else {
            shared += added;
        }
    }
    std::sort(shares.rbegin(), shares.rend());
    std::string detail;
    for (const auto& [calls, name] : shares) {
        detail +=
            (detail.empty() ? "" : ", ") + Fmt(static_cast<double>(calls) / count) + " " + name;
    }
    const double perFileCalls = static_cast<double>(perFile) / count;
    std::printf(
        "| (e) system calls per delivered plain file, %d files of %d bytes, %s | %s (%s; and %ld "
        "in all for the listing and its memory) | 1 (rename or unlink) and a share of the "
        "listing | — | ≤ 8 | %s |\n",
        count, bytes, mix ? "half newer, half older" : "all newer", Fmt(perFileCalls).c_str(),
        detail.c_str(), shared, perFileCalls <= 8 ? "met" : "missed");
}

int Usage() {
    std::fprintf(stderr,
                 "usage: p2bench start [RUNS] | plain N newer|mix [RUNS] | db N [RUNS] | "
                 "scale N [RUNS] | calls N newer|mix [BYTES]\n");
    return 2;
}

}  // namespace
}  // namespace p2bench

int main(int argc, char** argv) {
    using namespace p2bench;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto arg = [&](std::size_t i, int otherwise) {
        return i < args.size() ? std::atoi(args[i].c_str()) : otherwise;
    };
    try {
        BecomeSubreaper();
        if (args.size() >= 1 && args[0] == "start") {
            Start(arg(1, 21));
        } else if (args.size() >= 3 && args[0] == "plain") {
            Pass(arg(1, 1000), false, args[2] == "mix", arg(3, 7));
        } else if (args.size() >= 2 && args[0] == "db") {
            Pass(arg(1, 200), true, false, arg(2, 7));
        } else if (args.size() >= 2 && args[0] == "scale") {
            Scale(arg(1, 1000), arg(2, 3));
        } else if (args.size() >= 3 && args[0] == "calls") {
            Calls(arg(1, 1000), args[2] == "mix", arg(3, 0));
        } else {
            return Usage();
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "p2bench: %s\n", e.what());
        return 1;
    }
    std::fflush(stdout);
    return 0;
}
