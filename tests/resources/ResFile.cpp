// Reads the .res file windres writes: each resource's type, name, language and bytes.
#include "ResFile.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace p2::test {

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open " + path);
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint16_t Le16(const Bytes& data, std::size_t offset) {
    if (offset + 2 > data.size()) {
        throw std::runtime_error("read past the end");
    }
    return static_cast<std::uint16_t>(data[offset] | (data[offset + 1] << 8));
}

std::uint32_t Le32(const Bytes& data, std::size_t offset) {
    return Le16(data, offset) | (static_cast<std::uint32_t>(Le16(data, offset + 2)) << 16);
}

namespace {

std::size_t AlignDword(std::size_t offset) {
    return (offset + 3) & ~static_cast<std::size_t>(3);
}

// A type or name field: 0xFFFF and an ordinal, or a zero-terminated UTF-16 text.
ResId ReadId(const Bytes& file, std::size_t& pos, std::size_t end) {
    ResId id;
    if (Le16(file, pos) == 0xFFFF) {
        id.ordinal = Le16(file, pos + 2);
        pos += 4;
        return id;
    }
    id.isOrdinal = false;
    for (;;) {
        if (pos + 2 > end) {
            throw std::runtime_error("unterminated resource name");
        }
        const std::uint16_t unit = Le16(file, pos);
        pos += 2;
        if (unit == 0) {
            return id;
        }
        id.text.push_back(static_cast<char16_t>(unit));
    }
}

std::u16string ReadKey(const Bytes& data, std::size_t& pos, std::size_t end) {
    std::u16string key;
    for (;;) {
        if (pos + 2 > end) {
            throw std::runtime_error("unterminated version key");
        }
        const std::uint16_t unit = Le16(data, pos);
        pos += 2;
        if (unit == 0) {
            return key;
        }
        key.push_back(static_cast<char16_t>(unit));
    }
}

VersionNode ReadVersionNode(const Bytes& data, std::size_t start, std::size_t limit) {
    const std::size_t length = Le16(data, start);
    const std::size_t end = start + length;
    if (length < 6 || end > limit) {
        throw std::runtime_error("version node length out of range");
    }
    const std::uint16_t valueLength = Le16(data, start + 2);
    VersionNode node;
    node.type = Le16(data, start + 4);
    std::size_t pos = start + 6;
    node.key = ReadKey(data, pos, end);
    pos = AlignDword(pos);
    // Text values count UTF-16 units, binary ones bytes.
    const std::size_t valueBytes = node.type == 1 ? 2u * valueLength : valueLength;
    if (pos + valueBytes > end) {
        throw std::runtime_error("version value out of range");
    }
    node.value.assign(data.begin() + static_cast<std::ptrdiff_t>(pos),
                      data.begin() + static_cast<std::ptrdiff_t>(pos + valueBytes));
    pos = AlignDword(pos + valueBytes);
    while (pos < end) {
        node.children.push_back(ReadVersionNode(data, pos, end));
        pos = AlignDword(pos + Le16(data, pos));
    }
    return node;
}

}  // namespace

std::vector<Resource> ReadResources(const Bytes& file) {
    std::vector<Resource> all;
    std::size_t pos = 0;
    while (pos < file.size()) {
        const std::uint32_t dataSize = Le32(file, pos);
        const std::uint32_t headerSize = Le32(file, pos + 4);
        const std::size_t headerEnd = pos + headerSize;
        if (headerSize < 24 || headerEnd > file.size() || dataSize > file.size() - headerEnd) {
            throw std::runtime_error("resource record out of range");
        }
        Resource res;
        std::size_t field = pos + 8;
        res.type = ReadId(file, field, headerEnd);
        res.name = ReadId(file, field, headerEnd);
        field = AlignDword(field);
        if (field + 16 > headerEnd) {
            throw std::runtime_error("resource header too short");
        }
        res.dataVersion = Le32(file, field);
        res.memoryFlags = Le16(file, field + 4);
        res.languageId = Le16(file, field + 6);
        res.version = Le32(file, field + 8);
        res.characteristics = Le32(file, field + 12);
        res.data.assign(file.begin() + static_cast<std::ptrdiff_t>(headerEnd),
                        file.begin() + static_cast<std::ptrdiff_t>(headerEnd + dataSize));
        all.push_back(std::move(res));
        pos = AlignDword(headerEnd + dataSize);
    }
    return all;
}

std::vector<const Resource*> FindResources(const std::vector<Resource>& all, std::uint16_t type,
                                           std::uint16_t name) {
    std::vector<const Resource*> found;
    for (const Resource& res : all) {
        if (res.type.isOrdinal && res.type.ordinal == type && res.name.isOrdinal &&
            res.name.ordinal == name) {
            found.push_back(&res);
        }
    }
    return found;
}

const VersionNode* VersionNode::Child(const std::u16string& childKey) const {
    for (const VersionNode& child : children) {
        if (child.key == childKey) {
            return &child;
        }
    }
    return nullptr;
}

std::u16string VersionNode::Text() const {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < value.size(); i += 2) {
        text.push_back(static_cast<char16_t>(Le16(value, i)));
    }
    while (!text.empty() && text.back() == u'\0') {
        text.pop_back();
    }
    return text;
}

VersionNode ReadVersionBlock(const Bytes& data) {
    return ReadVersionNode(data, 0, data.size());
}

std::u16string Utf16(const std::string& utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        char32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra && i + static_cast<std::size_t>(k) < utf8.size(); ++k) {
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        i += static_cast<std::size_t>(extra) + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    return out;
}

}  // namespace p2::test
