// A reader of the PNG files our icon generator writes: chunks checked by CRC-32 and the
// image data unpacked from zlib stored blocks (the only kind the generator writes).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace p2::test {

struct PngImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bitDepth = 0;
    int colourType = 0;
    std::vector<std::uint8_t> rows;  // filter byte and pixels, row after row

    // The alpha of one pixel of an 8-bit RGBA image without filters.
    int Alpha(std::uint32_t x, std::uint32_t y) const;
};

// Throws std::runtime_error with the reason when the file is not a sound PNG.
PngImage ReadPng(const std::vector<std::uint8_t>& file);

}  // namespace p2::test
