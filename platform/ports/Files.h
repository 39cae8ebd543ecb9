// File lookup, listing, modification time and deletion.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace p2 {

enum FileAttributes : int { kAttrNormal = 0, kAttrHidden = 2 };

class Files {
  public:
    virtual ~Files() = default;
    // The platform's path separator: every joined path uses it.
    virtual char Separator() const = 0;
    // The name of the file at `path` when it is an ordinary file (or a hidden one, when
    // `attributes` holds kAttrHidden); the empty text otherwise. Folders and system files
    // are never found.
    virtual std::string Lookup(const std::string& path, int attributes) = 0;
    // Names of the normal and hidden files directly in `folder`, in the order the platform
    // lists them; empty for a missing folder.
    virtual std::vector<std::string> ListFiles(const std::string& folder) = 0;
    // Last modification, whole seconds since the epoch (an absolute time, so that a change
    // of local clock offset cannot reorder two files). Throws AppError when unreadable.
    virtual int64_t ModificationTime(const std::string& path) = 0;
    // Throws AppError when the file cannot be deleted.
    virtual void DeleteFile(const std::string& path) = 0;
};

}  // namespace p2
