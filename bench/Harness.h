// What every benchmark needs: a sandbox installation, deliveries made before each run,
// programs started and waited for, and medians.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace p2bench {

double Median(std::vector<double> values);

// Milliseconds since an arbitrary start, monotonic.
double NowMs();

void MakeDirs(const std::string& path);
void RemoveTree(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes, int64_t mtime);
std::string ReadFile(const std::string& path);
// Seconds since the epoch; -1 for a missing file.
int64_t ModificationTime(const std::string& path);
// Names of the entries of `folder`, "." and ".." left out.
std::vector<std::string> ListNames(const std::string& folder);
// Writes back what the set-up left in the page cache, so that no run pays for the set-up.
void SyncFileSystem(const std::string& path);

// A database with a version stamp, as the application ships them.
void MakeStampedDatabase(const std::string& path, const std::string& stamp);

// An installation laid out as the launcher expects it: program folder with the launcher, the
// workgroup file and the target database beside SYSTEM and LAN, the registry naming the
// Access stand-in, and the configuration and runtime folders.
class Install {
  public:
    explicit Install(const std::string& binDir);
    ~Install();
    Install(const Install&) = delete;
    Install& operator=(const Install&) = delete;

    const std::string& Root() const { return root_; }
    std::string Program() const { return root_ + "/Prog"; }
    std::string Launcher() const { return Program() + "/Pelorin2"; }
    std::string Target() const { return Program() + "/main.mdb"; }
    std::string Workgroup() const { return Program() + "/Pelorin2.wgf"; }
    std::string AccessExe() const { return root_ + "/Office/MSACCESS.EXE"; }
    std::string System() const { return root_ + "/SYSTEM"; }
    std::string Lan() const { return root_ + "/LAN"; }
    std::string Log() const { return root_ + "/stderr.log"; }
    // The environment of a start: the sandbox's configuration, no display.
    std::vector<std::string> Environment() const;
    // Empties SYSTEM and LAN, leaving their empty UPDATE folders.
    void ResetFolders() const;

  private:
    std::string root_;
};

struct Run {
    double exitMs = 0;  // from the start until the program itself exited
    double allMs = 0;   // until every process it started had exited as well
    long maxRssKiB = 0;
    int status = -1;
};

// Starts `argv` with `env`, standard output to /dev/null and standard error to `errLog`, and
// waits for it and for every process it leaves behind (this process is their subreaper).
Run RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               const std::string& errLog);

// Makes this process the reaper of the orphans of the programs it starts.
void BecomeSubreaper();

// Runs `body` in a forked child, so that every run starts with a fresh process (the engine's
// once-per-process work included). Returns the milliseconds the child measured; a child that
// failed ends the benchmark.
double InFreshProcess(double (*body)(void*), void* context);

}  // namespace p2bench
