// A reader of compiled Windows resource files (.res) and of the version block inside them,
// so that the tests can see what the platform would read from the program file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace p2::test {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytes(const std::string& path);

// A resource type or name: an ordinal, or a text when ordinal is absent.
struct ResId {
    bool isOrdinal = true;
    std::uint16_t ordinal = 0;
    std::u16string text;
};

struct Resource {
    ResId type;
    ResId name;
    std::uint32_t dataVersion = 0;
    std::uint16_t memoryFlags = 0;
    std::uint16_t languageId = 0;
    std::uint32_t version = 0;
    std::uint32_t characteristics = 0;
    Bytes data;
};

// All records of a .res file, the empty leading record included. Throws std::runtime_error
// on a malformed file.
std::vector<Resource> ReadResources(const Bytes& file);

// The resources of one type and ordinal name.
std::vector<const Resource*> FindResources(const std::vector<Resource>& all, std::uint16_t type,
                                           std::uint16_t name);

// One node of a version block: VS_VERSIONINFO, StringFileInfo, a string table, a String, a
// VarFileInfo or a Var.
struct VersionNode {
    std::u16string key;
    std::uint16_t type = 0;  // 1 text, 0 binary
    Bytes value;             // the raw value bytes
    std::vector<VersionNode> children;

    const VersionNode* Child(const std::u16string& childKey) const;
    // The value of a text node without its terminating zero.
    std::u16string Text() const;
};

VersionNode ReadVersionBlock(const Bytes& data);

std::u16string Utf16(const std::string& utf8);

std::uint16_t Le16(const Bytes& data, std::size_t offset);
std::uint32_t Le32(const Bytes& data, std::size_t offset);

}  // namespace p2::test
