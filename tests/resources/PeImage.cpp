// Reads a built Windows program as the loader does: headers, imports, version resource.
#include "PeImage.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace p2::test {
namespace {

constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::size_t kExportDirectory = 0;
constexpr std::size_t kImportDirectory = 1;
constexpr std::size_t kResourceDirectory = 2;
// type, name, language: a deeper tree is malformed, and the limit keeps a looping one finite.
constexpr int kResourceLevels = 3;
// Entries that point back at a directory could multiply the walk without end.
constexpr std::size_t kMaxResourceEntries = 4096;
// A table without its terminating zero would otherwise be read to the end of the file.
constexpr std::size_t kMaxImportedFunctions = 65536;

struct Section {
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawOffset = 0;
    std::uint32_t rawSize = 0;
};

class Image {
  public:
    Image(const Bytes& file, std::vector<Section> sections)
        : file_(file), sections_(std::move(sections)) {}

    // The file offset of an address of the loaded image.
    std::size_t Offset(std::uint32_t rva) const {
        for (const Section& s : sections_) {
            // Past the virtual size the file holds only padding.
            const std::uint32_t extent =
                s.virtualSize != 0 ? std::min(s.virtualSize, s.rawSize) : s.rawSize;
            if (rva >= s.virtualAddress && rva - s.virtualAddress < extent) {
                const std::size_t offset =
                    static_cast<std::size_t>(s.rawOffset) + (rva - s.virtualAddress);
                if (offset >= file_.size()) {
                    break;
                }
                return offset;
            }
        }
        throw std::runtime_error("address outside the file's sections");
    }

    Bytes Slice(std::uint32_t rva, std::uint32_t size) const {
        const std::size_t offset = Offset(rva);
        if (size > file_.size() - offset) {
            throw std::runtime_error("data past the end of the file");
        }
        return Bytes(file_.begin() + static_cast<std::ptrdiff_t>(offset),
                     file_.begin() + static_cast<std::ptrdiff_t>(offset + size));
    }

    std::string AsciiZ(std::uint32_t rva) const {
        std::string text;
        for (std::size_t pos = Offset(rva);; ++pos) {
            if (pos >= file_.size()) {
                throw std::runtime_error("unterminated name");
            }
            if (file_[pos] == 0) {
                return text;
            }
            text.push_back(static_cast<char>(file_[pos]));
        }
    }

    const Bytes& File() const { return file_; }

  private:
    const Bytes& file_;
    std::vector<Section> sections_;
};

// The functions of one library: 32-bit entries up to a zero one, each an ordinal (high bit
// set) or the address of a 16-bit hint followed by the name.
void ReadImportedFunctions(const Image& image, const std::string& library, std::uint32_t rva,
                           std::vector<ImportedFunction>& out) {
    const Bytes& file = image.File();
    for (std::size_t pos = image.Offset(rva);; pos += 4) {
        if (pos + 4 > file.size()) {
            throw std::runtime_error("unterminated import lookup table");
        }
        const std::uint32_t entry = Le32(file, pos);
        if (entry == 0) {
            return;
        }
        if (out.size() > kMaxImportedFunctions) {
            throw std::runtime_error("too many imported functions");
        }
        out.push_back({library, (entry & 0x80000000u) != 0 ? "#" + std::to_string(entry & 0xFFFFu)
                                                           : image.AsciiZ(entry + 2)});
    }
}

std::vector<std::string> ReadImports(const Image& image, std::uint32_t rva, std::uint32_t size,
                                     std::vector<ImportedFunction>& functions) {
    std::vector<std::string> names;
    if (rva == 0 || size == 0) {
        return names;
    }
    const Bytes& file = image.File();
    // Descriptors of 20 bytes up to an all-zero one: the lookup table's address at 0 (or, when
    // that is 0, the address table's at 16) and the name's at 12.
    for (std::size_t pos = image.Offset(rva);; pos += 20) {
        if (pos + 20 > file.size()) {
            throw std::runtime_error("unterminated import directory");
        }
        const std::uint32_t nameRva = Le32(file, pos + 12);
        const std::uint32_t lookupRva = Le32(file, pos);
        const std::uint32_t addressRva = Le32(file, pos + 16);
        if (nameRva == 0 && lookupRva == 0 && addressRva == 0) {
            return names;
        }
        names.push_back(image.AsciiZ(nameRva));
        ReadImportedFunctions(image, names.back(), lookupRva != 0 ? lookupRva : addressRva,
                              functions);
    }
}

// The names a library exports: the export directory's name count at 24 and the address of its
// table of name addresses at 32.
std::vector<std::string> ReadExports(const Image& image, std::uint32_t rva, std::uint32_t size) {
    std::vector<std::string> names;
    if (rva == 0 || size == 0) {
        return names;
    }
    const Bytes directory = image.Slice(rva, 40);
    const std::uint32_t count = Le32(directory, 24);
    if (count > kMaxImportedFunctions) {
        throw std::runtime_error("too many exported names");
    }
    const Bytes table = image.Slice(Le32(directory, 32), 4 * count);
    for (std::uint32_t i = 0; i < count; ++i) {
        names.push_back(image.AsciiZ(Le32(table, 4 * i)));
    }
    return names;
}

// A directory entry's identifier: an ordinal, or (high bit set) the offset of a counted
// UTF-16 text from the start of the resource section.
ResId ReadEntryId(const Bytes& file, std::size_t base, std::uint32_t field) {
    ResId id;
    if ((field & 0x80000000u) == 0) {
        id.ordinal = static_cast<std::uint16_t>(field);
        return id;
    }
    id.isOrdinal = false;
    const std::size_t pos = base + (field & 0x7FFFFFFFu);
    const std::size_t length = Le16(file, pos);
    for (std::size_t i = 0; i < length; ++i) {
        id.text.push_back(static_cast<char16_t>(Le16(file, pos + 2 + 2 * i)));
    }
    return id;
}

void ReadResourceLevel(const Image& image, std::size_t base, std::size_t directory, int level,
                       Resource& path, std::vector<Resource>& out, std::size_t& visited) {
    const Bytes& file = image.File();
    // Header of 16 bytes; the counts of named and of numbered entries are at 12 and 14.
    const std::size_t count = std::size_t{Le16(file, directory + 12)} + Le16(file, directory + 14);
    for (std::size_t i = 0; i < count; ++i) {
        if (++visited > kMaxResourceEntries) {
            throw std::runtime_error("too many resource entries");
        }
        const std::size_t entry = directory + 16 + 8 * i;
        const std::uint32_t idField = Le32(file, entry);
        const std::uint32_t target = Le32(file, entry + 4);
        const bool isDirectory = (target & 0x80000000u) != 0;
        if (isDirectory != (level < kResourceLevels - 1)) {
            throw std::runtime_error("resource directory of the wrong depth");
        }
        switch (level) {
            case 0:
                path.type = ReadEntryId(file, base, idField);
                break;
            case 1:
                path.name = ReadEntryId(file, base, idField);
                break;
            default:
                path.languageId = static_cast<std::uint16_t>(idField);
                break;
        }
        const std::size_t targetPos = base + (target & 0x7FFFFFFFu);
        if (isDirectory) {
            ReadResourceLevel(image, base, targetPos, level + 1, path, out, visited);
            continue;
        }
        // A data entry: the data's address and size, then its code page.
        Resource leaf = path;
        leaf.data = image.Slice(Le32(file, targetPos), Le32(file, targetPos + 4));
        out.push_back(std::move(leaf));
    }
}

std::vector<Resource> ReadResourceTree(const Image& image, std::uint32_t rva, std::uint32_t size) {
    std::vector<Resource> all;
    if (rva == 0 || size == 0) {
        return all;
    }
    const std::size_t base = image.Offset(rva);
    Resource path;
    std::size_t visited = 0;
    ReadResourceLevel(image, base, base, 0, path, all, visited);
    return all;
}

}  // namespace

PeImage ReadPeImage(const Bytes& file) {
    if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') {
        throw std::runtime_error("no MZ header");
    }
    const std::size_t pe = Le32(file, 0x3C);
    if (pe > file.size() || file.size() - pe < 24 || Le32(file, pe) != 0x00004550u) {
        throw std::runtime_error("no PE signature");
    }
    PeImage image;
    image.machine = Le16(file, pe + 4);
    const std::size_t sectionCount = Le16(file, pe + 6);
    const std::size_t optionalSize = Le16(file, pe + 20);
    image.characteristics = Le16(file, pe + 22);

    const std::size_t optional = pe + 24;
    image.optionalMagic = Le16(file, optional);
    if (image.optionalMagic != kPe32Magic || optionalSize < 96) {
        throw std::runtime_error("not a 32-bit optional header");
    }
    image.subsystem = Le16(file, optional + 68);
    const std::size_t directoryCount = Le32(file, optional + 92);
    if (96 + 8 * std::min<std::size_t>(directoryCount, 16) > optionalSize) {
        throw std::runtime_error("data directories past the optional header");
    }
    const auto directory = [&](std::size_t index) {
        if (index >= directoryCount) {
            return std::pair<std::uint32_t, std::uint32_t>{0, 0};
        }
        const std::size_t pos = optional + 96 + 8 * index;
        return std::pair{Le32(file, pos), Le32(file, pos + 4)};
    };

    std::vector<Section> sections;
    for (std::size_t i = 0; i < sectionCount; ++i) {
        const std::size_t header = optional + optionalSize + 40 * i;
        sections.push_back({Le32(file, header + 12), Le32(file, header + 8),
                            Le32(file, header + 20), Le32(file, header + 16)});
    }
    const Image loaded(file, std::move(sections));
    const auto [importRva, importSize] = directory(kImportDirectory);
    image.imports = ReadImports(loaded, importRva, importSize, image.importedFunctions);
    const auto [exportRva, exportSize] = directory(kExportDirectory);
    image.exports = ReadExports(loaded, exportRva, exportSize);
    const auto [resourceRva, resourceSize] = directory(kResourceDirectory);
    image.resources = ReadResourceTree(loaded, resourceRva, resourceSize);
    return image;
}

}  // namespace p2::test
