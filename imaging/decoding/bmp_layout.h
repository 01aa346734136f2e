// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The BMP reader's first half: the file and info headers, bit-field masks and
// palette taken apart and checked (bmp_layout.cpp). The pixels are unpacked
// from the result in bmp_reading.cpp.

#include <FreeImage.h>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bmp {

// Little-endian fields of the file. Reads past its end give 0, so a short
// file reads as zeros rather than as memory beyond it.
class FileBytes {
public:
    FileBytes(const unsigned char* bytes, std::size_t length) : data(bytes), size(length) {}
    std::uint32_t u8(std::size_t at) const { return at < size ? data[at] : 0u; }
    std::uint32_t u16(std::size_t at) const { return u8(at) | u8(at + 1) << 8; }
    std::uint32_t u32(std::size_t at) const { return u16(at) | u16(at + 2) << 16; }

    const unsigned char* const data;
    const std::size_t size;
};

enum class Coding { Rgb, Rle8, Rle4, Rle24, BitFields };

// What the headers say, checked.
struct Layout {
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool topDown = false;
    unsigned bits = 0;
    Coding coding = Coding::Rgb;
    std::array<std::uint32_t, 4> masks{}; // red, green, blue, alpha
    std::vector<RGBQUAD> palette;         // 256 entries for up to 8 bits, black past the file's
    std::size_t pixelsAt = 0;
    bool hasResolution = false;
    std::uint32_t dotsPerMeterX = 0;
    std::uint32_t dotsPerMeterY = 0;
};

// "The BMP file is damaged: `what`".
QString damaged(const QString& what);

// Takes the file and info headers, masks and palette apart; returns the
// reason when the file cannot be read.
QString readLayout(const FileBytes& file, Layout& out);

} // namespace bmp
