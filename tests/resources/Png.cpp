// Reads the PNG icons the build writes, enough to check their size and transparency.
#include "Png.h"

#include <cstring>
#include <stdexcept>

namespace p2::test {
namespace {

std::uint32_t Be32(const std::vector<std::uint8_t>& data, std::size_t offset) {
    if (offset + 4 > data.size()) {
        throw std::runtime_error("truncated");
    }
    return (static_cast<std::uint32_t>(data[offset]) << 24) | (data[offset + 1] << 16) |
           (data[offset + 2] << 8) | data[offset + 3];
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) {
            crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
    }
    return crc ^ 0xFFFFFFFFu;
}

std::vector<std::uint8_t> InflateStored(const std::vector<std::uint8_t>& z) {
    if (z.size() < 6 || (z[0] & 0x0F) != 8 || ((z[0] << 8) | z[1]) % 31 != 0) {
        throw std::runtime_error("bad zlib header");
    }
    std::vector<std::uint8_t> out;
    std::size_t pos = 2;
    for (bool last = false; !last;) {
        if (pos + 5 > z.size()) {
            throw std::runtime_error("truncated deflate block");
        }
        last = (z[pos] & 1) != 0;
        if ((z[pos] >> 1) != 0) {
            throw std::runtime_error("not a stored block");
        }
        const unsigned len = z[pos + 1] | (z[pos + 2] << 8);
        const unsigned nlen = z[pos + 3] | (z[pos + 4] << 8);
        if ((len ^ 0xFFFFu) != nlen || pos + 5 + len > z.size()) {
            throw std::runtime_error("bad stored block length");
        }
        out.insert(out.end(), z.begin() + static_cast<std::ptrdiff_t>(pos + 5),
                   z.begin() + static_cast<std::ptrdiff_t>(pos + 5 + len));
        pos += 5 + len;
    }
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (std::uint8_t byte : out) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    if (pos + 4 != z.size() || Be32(z, pos) != ((b << 16) | a)) {
        throw std::runtime_error("bad Adler-32 or trailing bytes");
    }
    return out;
}

}  // namespace

int PngImage::Alpha(std::uint32_t x, std::uint32_t y) const {
    return rows.at(static_cast<std::size_t>(y) * (1 + 4 * width) + 1 + 4 * x + 3);
}

PngImage ReadPng(const std::vector<std::uint8_t>& file) {
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0) {
        throw std::runtime_error("no PNG signature");
    }
    PngImage image;
    std::vector<std::uint8_t> idat;
    std::size_t pos = 8;
    bool sawHeader = false;
    bool sawEnd = false;
    while (!sawEnd) {
        const std::uint32_t length = Be32(file, pos);
        if (length > file.size() || pos + 12 + length > file.size()) {
            throw std::runtime_error("chunk out of range");
        }
        const std::string type(file.begin() + static_cast<std::ptrdiff_t>(pos + 4),
                               file.begin() + static_cast<std::ptrdiff_t>(pos + 8));
        if (Crc32(file.data() + pos + 4, 4 + length) != Be32(file, pos + 8 + length)) {
            throw std::runtime_error("bad CRC in chunk " + type);
        }
        const std::size_t data = pos + 8;
        if (!sawHeader && type != "IHDR") {
            throw std::runtime_error("IHDR is not the first chunk");
        }
        if (type == "IHDR") {
            if (length != 13) {
                throw std::runtime_error("bad IHDR length");
            }
            sawHeader = true;
            image.width = Be32(file, data);
            image.height = Be32(file, data + 4);
            image.bitDepth = file[data + 8];
            image.colourType = file[data + 9];
        } else if (type == "IDAT") {
            idat.insert(idat.end(), file.begin() + static_cast<std::ptrdiff_t>(data),
                        file.begin() + static_cast<std::ptrdiff_t>(data + length));
        } else if (type == "IEND") {
            sawEnd = true;
        }
        pos = data + length + 4;
    }
    if (pos != file.size()) {
        throw std::runtime_error("bytes after IEND");
    }
    image.rows = InflateStored(idat);
    return image;
}

}  // namespace p2::test
