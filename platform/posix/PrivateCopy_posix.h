// A database as a read-write open would see it, for a reader that may not change it.
#pragma once

#include <memory>
#include <string>

namespace p2::posix {

// A rollback journal left beside a database by a killed writer, or a write-ahead log, is
// folded into the database by the next read-write open; a reader that may change nothing
// cannot fold it in place. Such a database is copied with its side files into a private
// temporary folder, outside the installation, where the engine may fold them in; the folder
// goes with this object.
class PrivateCopy {
  public:
    // Nothing when no side file lies beside `path` (an empty journal is none). Throws
    // AppError (3051) when the copy fails.
    static std::unique_ptr<PrivateCopy> IfSideFiles(const std::string& path);
    ~PrivateCopy();
    PrivateCopy(const PrivateCopy&) = delete;
    PrivateCopy& operator=(const PrivateCopy&) = delete;
    const std::string& Path() const { return path_; }

  private:
    explicit PrivateCopy(std::string folder);
    std::string folder_;
    std::string path_;
};

}  // namespace p2::posix
