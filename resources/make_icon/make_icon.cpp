// Draws the product emblem: the Windows icon file, the desktop's PNG icons and the scalable
// SVG, all from one drawing, so the program looks the same on both platforms.
//
// Usage: p2_make_icon OUTDIR
//   OUTDIR/Pelorin2.ico                          (32x32 1 bpp, 32x32 4 bpp, 16x16 4 bpp)
//   OUTDIR/hicolor/NxN/apps/pelorin2.png         (N = 16 24 32 48 64 128 256)
//   OUTDIR/hicolor/scalable/apps/pelorin2.svg

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---- The emblem ------------------------------------------------------------------------
// A navy badge with rounded corners, a blue face, "P2" in white block letters and a yellow
// bar beneath, drawn on a 16-unit grid so that the 16-pixel icon is pixel exact.

enum class Part { Outside, Rim, Face, Letter, Accent };

constexpr double kGrid = 16.0;
constexpr double kOuterRadius = 4.0;
constexpr double kInnerRadius = 3.0;

// Row r of the grid: "P" in columns 2-6, "2" in columns 9-13, the bar in row 13.
constexpr std::array<const char*, 16> kCells = {
    "................",  //
    "................",  //
    "................",  //
    "..####....###...",  //
    "..##.##..##.##..",  //
    "..##.##.....##..",  //
    "..##.##.....##..",  //
    "..####.....##...",  //
    "..##......##....",  //
    "..##.....##.....",  //
    "..##.....##.....",  //
    "..##.....#####..",  //
    "................",  //
    "..============..",  //
    "................",  //
    "................",  //
};

bool InRoundedSquare(double x, double y, double lo, double hi, double radius) {
    if (x < lo || y < lo || x >= hi || y >= hi) {
        return false;
    }
    const double cx = std::clamp(x, lo + radius, hi - radius);
    const double cy = std::clamp(y, lo + radius, hi - radius);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
}

Part CellPart(int col, int row) {
    switch (kCells[static_cast<std::size_t>(row)][col]) {
        case '#':
            return Part::Letter;
        case '=':
            return Part::Accent;
        default:
            return Part::Face;
    }
}

// The part under a point of the grid (0 <= x, y < 16).
Part PartAt(double x, double y) {
    if (!InRoundedSquare(x, y, 0.0, kGrid, kOuterRadius)) {
        return Part::Outside;
    }
    if (!InRoundedSquare(x, y, 1.0, kGrid - 1.0, kInnerRadius)) {
        return Part::Rim;
    }
    return CellPart(static_cast<int>(x), static_cast<int>(y));
}

struct Rgb {
    std::uint8_t r, g, b;
};

// Colours of the Windows 16-colour palette, so that the 4 bpp icon shows them exactly.
Rgb PartColour(Part part) {
    switch (part) {
        case Part::Rim:
            return {0x00, 0x00, 0x80};
        case Part::Face:
            return {0x00, 0x00, 0xFF};
        case Part::Accent:
            return {0xFF, 0xFF, 0x00};
        default:
            return {0xFF, 0xFF, 0xFF};
    }
}

constexpr std::array<Rgb, 16> kVgaPalette = {{{0x00, 0x00, 0x00},
                                              {0x80, 0x00, 0x00},
                                              {0x00, 0x80, 0x00},
                                              {0x80, 0x80, 0x00},
                                              {0x00, 0x00, 0x80},
                                              {0x80, 0x00, 0x80},
                                              {0x00, 0x80, 0x80},
                                              {0xC0, 0xC0, 0xC0},
                                              {0x80, 0x80, 0x80},
                                              {0xFF, 0x00, 0x00},
                                              {0x00, 0xFF, 0x00},
                                              {0xFF, 0xFF, 0x00},
                                              {0x00, 0x00, 0xFF},
                                              {0xFF, 0x00, 0xFF},
                                              {0x00, 0xFF, 0xFF},
                                              {0xFF, 0xFF, 0xFF}}};

// ---- Little-endian and big-endian writers ----------------------------------------------

void PutLe16(Bytes& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void PutLe32(Bytes& out, std::uint32_t value) {
    PutLe16(out, value & 0xFFFF);
    PutLe16(out, value >> 16);
}

void PutBe32(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
    }
}

// ---- Windows icon ----------------------------------------------------------------------

struct IconImage {
    int size;
    int bitCount;  // 1 or 4
};

std::uint8_t PaletteIndex(Part part, int bitCount) {
    if (bitCount == 1) {
        // Black badge, white letters and bar.
        return (part == Part::Letter || part == Part::Accent) ? 1 : 0;
    }
    const Rgb colour = PartColour(part);
    for (std::size_t i = 0; i < kVgaPalette.size(); ++i) {
        const Rgb& p = kVgaPalette[i];
        if (p.r == colour.r && p.g == colour.g && p.b == colour.b) {
            return static_cast<std::uint8_t>(i);
        }
    }
    return 0;
}

std::size_t RowBytes(int width, int bitCount) {
    return static_cast<std::size_t>((width * bitCount + 31) / 32 * 4);
}

// One BMP-style icon image: header with the doubled height, palette, colour bits, AND mask,
// rows bottom up.
Bytes IconImageBytes(const IconImage& image) {
    const int n = image.size;
    const int colours = 1 << image.bitCount;
    const std::size_t xorRow = RowBytes(n, image.bitCount);
    const std::size_t andRow = RowBytes(n, 1);
    Bytes xorBits(xorRow * static_cast<std::size_t>(n), 0);
    Bytes andBits(andRow * static_cast<std::size_t>(n), 0);
    const double scale = kGrid / n;
    for (int y = 0; y < n; ++y) {
        const std::size_t row = static_cast<std::size_t>(n - 1 - y);
        for (int x = 0; x < n; ++x) {
            const Part part = PartAt((x + 0.5) * scale, (y + 0.5) * scale);
            const auto bit = static_cast<std::size_t>(x);
            if (part == Part::Outside) {
                andBits[row * andRow + bit / 8] |= static_cast<std::uint8_t>(0x80 >> (bit % 8));
                continue;
            }
            const std::uint8_t index = PaletteIndex(part, image.bitCount);
            if (image.bitCount == 1) {
                if (index != 0) {
                    xorBits[row * xorRow + bit / 8] |= static_cast<std::uint8_t>(0x80 >> (bit % 8));
                }
            } else {
                const int shift = (bit % 2 == 0) ? 4 : 0;
                xorBits[row * xorRow + bit / 2] |= static_cast<std::uint8_t>(index << shift);
            }
        }
    }

    Bytes out;
    PutLe32(out, 40);
    PutLe32(out, static_cast<std::uint32_t>(n));
    PutLe32(out, static_cast<std::uint32_t>(2 * n));
    PutLe16(out, 1);
    PutLe16(out, static_cast<unsigned>(image.bitCount));
    PutLe32(out, 0);
    PutLe32(out, static_cast<std::uint32_t>(xorBits.size() + andBits.size()));
    PutLe32(out, 0);
    PutLe32(out, 0);
    PutLe32(out, 0);
    PutLe32(out, 0);
    for (int i = 0; i < colours; ++i) {
        const Rgb c = image.bitCount == 1 ? (i == 0 ? Rgb{0, 0, 0} : Rgb{0xFF, 0xFF, 0xFF})
                                          : kVgaPalette[static_cast<std::size_t>(i)];
        out.insert(out.end(), {c.b, c.g, c.r, 0});
    }
    out.insert(out.end(), xorBits.begin(), xorBits.end());
    out.insert(out.end(), andBits.begin(), andBits.end());
    return out;
}

Bytes IcoFile() {
    const std::array<IconImage, 3> images = {{{32, 1}, {32, 4}, {16, 4}}};
    Bytes out;
    PutLe16(out, 0);
    PutLe16(out, 1);
    PutLe16(out, images.size());
    std::vector<Bytes> bodies;
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (const IconImage& image : images) {
        bodies.push_back(IconImageBytes(image));
        out.push_back(static_cast<std::uint8_t>(image.size));
        out.push_back(static_cast<std::uint8_t>(image.size));
        out.push_back(static_cast<std::uint8_t>(1 << image.bitCount));
        out.push_back(0);
        PutLe16(out, 1);
        PutLe16(out, static_cast<unsigned>(image.bitCount));
        PutLe32(out, static_cast<std::uint32_t>(bodies.back().size()));
        PutLe32(out, offset);
        offset += static_cast<std::uint32_t>(bodies.back().size());
    }
    for (const Bytes& body : bodies) {
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}

// ---- PNG -------------------------------------------------------------------------------

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

std::uint32_t Adler32(const Bytes& data) {
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (std::uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

void PutChunk(Bytes& png, const char* type, const Bytes& data) {
    PutBe32(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    PutBe32(png, Crc32(png.data() + start, png.size() - start));
}

// A zlib stream of stored blocks: no compression, so no compressor is needed.
Bytes ZlibStored(const Bytes& raw) {
    Bytes out = {0x78, 0x01};
    std::size_t pos = 0;
    do {
        const std::size_t len = std::min<std::size_t>(raw.size() - pos, 0xFFFF);
        const bool last = pos + len == raw.size();
        out.push_back(last ? 1 : 0);
        PutLe16(out, static_cast<unsigned>(len));
        PutLe16(out, static_cast<unsigned>(~len & 0xFFFF));
        out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos),
                   raw.begin() + static_cast<std::ptrdiff_t>(pos + len));
        pos += len;
    } while (pos < raw.size());
    PutBe32(out, Adler32(raw));
    return out;
}

// An RGBA picture of the emblem at n x n pixels, each pixel averaged over 8 x 8 samples.
Bytes PngFile(int n) {
    constexpr int kSamples = 8;
    Bytes raw;
    raw.reserve(static_cast<std::size_t>(n) * (1 + 4 * static_cast<std::size_t>(n)));
    const double scale = kGrid / n;
    for (int y = 0; y < n; ++y) {
        raw.push_back(0);  // filter: none
        for (int x = 0; x < n; ++x) {
            int covered = 0;
            int r = 0;
            int g = 0;
            int b = 0;
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const Part part = PartAt((x + (sx + 0.5) / kSamples) * scale,
                                             (y + (sy + 0.5) / kSamples) * scale);
                    if (part == Part::Outside) {
                        continue;
                    }
                    const Rgb c = PartColour(part);
                    ++covered;
                    r += c.r;
                    g += c.g;
                    b += c.b;
                }
            }
            if (covered == 0) {
                raw.insert(raw.end(), {0, 0, 0, 0});
                continue;
            }
            const auto average = [covered](int sum) {
                return static_cast<std::uint8_t>((sum + covered / 2) / covered);
            };
            raw.insert(raw.end(),
                       {average(r), average(g), average(b),
                        static_cast<std::uint8_t>((covered * 255 + kSamples * kSamples / 2) /
                                                  (kSamples * kSamples))});
        }
    }

    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    PutBe32(header, static_cast<std::uint32_t>(n));
    PutBe32(header, static_cast<std::uint32_t>(n));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA, not interlaced
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", ZlibStored(raw));
    PutChunk(png, "IEND", {});
    return png;
}

// ---- SVG -------------------------------------------------------------------------------

std::string HexColour(Part part) {
    const Rgb c = PartColour(part);
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
    return text;
}

// The cells of one part as a path of row runs.
std::string CellPath(Part part) {
    std::string d;
    for (int row = 0; row < 16; ++row) {
        for (int col = 0; col < 16;) {
            if (CellPart(col, row) != part) {
                ++col;
                continue;
            }
            const int start = col;
            while (col < 16 && CellPart(col, row) == part) {
                ++col;
            }
            const std::string len = std::to_string(col - start);
            // Appended piece by piece: GCC 12 misreads a chain of operator+ here (-Wrestrict).
            d += 'M';
            d += std::to_string(start);
            d += ' ';
            d += std::to_string(row);
            d += 'h';
            d += len;
            d += "v1h-";
            d += len;
            d += 'z';
        }
    }
    return d;
}

std::string SvgFile() {
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg +=
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
        "viewBox=\"0 0 16 16\">\n";
    svg += "  <title>ペロリンⅡ</title>\n";
    svg += "  <rect width=\"16\" height=\"16\" rx=\"4\" fill=\"" + HexColour(Part::Rim) + "\"/>\n";
    svg += "  <rect x=\"1\" y=\"1\" width=\"14\" height=\"14\" rx=\"3\" fill=\"" +
           HexColour(Part::Face) + "\"/>\n";
    svg +=
        "  <path fill=\"" + HexColour(Part::Letter) + "\" d=\"" + CellPath(Part::Letter) + "\"/>\n";
    svg +=
        "  <path fill=\"" + HexColour(Part::Accent) + "\" d=\"" + CellPath(Part::Accent) + "\"/>\n";
    svg += "</svg>\n";
    return svg;
}

// ---- Output ----------------------------------------------------------------------------

bool WriteFile(const std::filesystem::path& path, const void* data, std::size_t size) {
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
        std::cerr << "p2_make_icon: cannot write " << path << "\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: p2_make_icon OUTDIR\n";
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    bool ok = true;
    const Bytes ico = IcoFile();
    ok = WriteFile(dir / "Pelorin2.ico", ico.data(), ico.size()) && ok;
    for (int n : {16, 24, 32, 48, 64, 128, 256}) {
        const std::string size = std::to_string(n) + "x" + std::to_string(n);
        const Bytes png = PngFile(n);
        ok = WriteFile(dir / "hicolor" / size / "apps" / "pelorin2.png", png.data(), png.size()) &&
             ok;
    }
    const std::string svg = SvgFile();
    ok =
        WriteFile(dir / "hicolor" / "scalable" / "apps" / "pelorin2.svg", svg.data(), svg.size()) &&
        ok;
    return ok ? 0 : 1;
}
