#include "imaging/decoding/png_reader.h"

#include <libdeflate.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace {

std::uint32_t bigEndian(const unsigned char* at)
{
    return std::uint32_t(at[0]) << 24 | std::uint32_t(at[1]) << 16 | std::uint32_t(at[2]) << 8 |
           at[3];
}

bool isType(const unsigned char* at, const char* type)
{
    return std::memcmp(at, type, 4) == 0;
}

struct DecompressorDeleter {
    void operator()(libdeflate_decompressor* decompressor) const
    {
        libdeflate_free_decompressor(decompressor);
    }
};

// Undoes row `row`'s filter in place against the row above (zeros for the first row).
bool unfilterRow(std::uint8_t filter, std::uint8_t* row, const std::uint8_t* above,
                 std::size_t length, std::size_t bpp)
{
    switch (filter) {
    case 0:
        return true;
    case 1:
        for (std::size_t i = bpp; i < length; ++i)
            row[i] = std::uint8_t(row[i] + row[i - bpp]);
        return true;
    case 2:
        for (std::size_t i = 0; i < length; ++i)
            row[i] = std::uint8_t(row[i] + above[i]);
        return true;
    case 3:
        for (std::size_t i = 0; i < bpp; ++i)
            row[i] = std::uint8_t(row[i] + (above[i] >> 1));
        for (std::size_t i = bpp; i < length; ++i)
            row[i] = std::uint8_t(row[i] + ((row[i - bpp] + above[i]) >> 1));
        return true;
    case 4:
        for (std::size_t i = 0; i < bpp; ++i) // Paeth of (0, b, 0) is b
            row[i] = std::uint8_t(row[i] + above[i]);
        for (std::size_t i = bpp; i < length; ++i) {
            const int a = row[i - bpp], b = above[i], c = above[i - bpp];
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            const int predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            row[i] = std::uint8_t(row[i] + predicted);
        }
        return true;
    default:
        return false; // FreeImage's reader refuses such a row too
    }
}

} // namespace

BitmapPtr readPlainPng(const unsigned char* data, std::size_t size)
{
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (size < 8 + 25 || std::memcmp(data, signature, 8) != 0)
        return nullptr;

    std::uint32_t width = 0, height = 0;
    unsigned channels = 0;
    std::uint32_t dotsX = 0, dotsY = 0;
    bool resolution = false, metres = false, ended = false, idatDone = false;
    std::vector<std::pair<const unsigned char*, std::size_t>> idats;
    std::size_t compressedBytes = 0;
    for (std::size_t at = 8; !ended;) {
        if (size - at < 12)
            return nullptr;
        const std::uint32_t length = bigEndian(data + at);
        if (length > 0x7fffffffu || size - at - 12 < length)
            return nullptr;
        const unsigned char* type = data + at + 4;
        const unsigned char* body = type + 4;
        if (libdeflate_crc32(libdeflate_crc32(0, type, 4), body, length) !=
            bigEndian(body + length))
            return nullptr;
        const bool first = at == 8;
        at += 12 + std::size_t(length);
        if (first != isType(type, "IHDR"))
            return nullptr;
        if (!idats.empty() && !isType(type, "IDAT"))
            idatDone = true;
        if (first) {
            if (length != 13)
                return nullptr;
            width = bigEndian(body);
            height = bigEndian(body + 4);
            // 8 bits per sample, RGB or RGBA, deflate, adaptive filters, not interlaced.
            if (width == 0 || height == 0 || width > 0x7fffffffu || height > 0x7fffffffu ||
                body[8] != 8 || (body[9] != 2 && body[9] != 6) || body[10] != 0 || body[11] != 0 ||
                body[12] != 0)
                return nullptr;
            channels = body[9] == 6 ? 4 : 3;
        } else if (isType(type, "IDAT")) {
            if (idatDone)
                return nullptr;
            idats.emplace_back(body, length);
            compressedBytes += length;
        } else if (isType(type, "IEND")) {
            ended = true;
        } else if (isType(type, "pHYs")) {
            if (length != 9 || resolution)
                return nullptr;
            resolution = true;
            metres = body[8] == 1;
            if (metres) {
                dotsX = bigEndian(body);
                dotsY = bigEndian(body + 4);
            }
        } else if (!isType(type, "tEXt") && !isType(type, "zTXt") && !isType(type, "iTXt") &&
                   !isType(type, "tIME") && !isType(type, "iCCP")) {
            // Anything else may change the pixels or what is carried with them
            // (palette, tRNS, gAMA, sRGB, eXIf, ...): FreeImage's turn. The
            // profile (iCCP) is read from the file's bytes by its own code.
            return nullptr;
        }
    }
    if (idats.empty())
        return nullptr;

    try {
        std::vector<unsigned char> joined;
        const unsigned char* stream = idats.front().first;
        if (idats.size() > 1) {
            joined.reserve(compressedBytes);
            for (const auto& [part, bytes] : idats)
                joined.insert(joined.end(), part, part + bytes);
            stream = joined.data();
        }
        const std::size_t rowBytes = std::size_t(width) * channels;
        const std::size_t rawBytes = (rowBytes + 1) * height;
        std::unique_ptr<std::uint8_t[]> raw(new std::uint8_t[rawBytes]);
        std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor(
            libdeflate_alloc_decompressor());
        if (!decompressor ||
            libdeflate_zlib_decompress(decompressor.get(), stream, compressedBytes, raw.get(),
                                       rawBytes, nullptr) != LIBDEFLATE_SUCCESS)
            return nullptr;
        joined = {};

        BitmapPtr dib(FreeImage_Allocate(int(width), int(height), int(channels * 8),
                                         FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
        if (!dib)
            return nullptr;
        const std::vector<std::uint8_t> zeros(rowBytes, 0);
        const std::uint8_t* above = zeros.data();
        bool opaque = true;
        for (std::uint32_t y = 0; y < height; ++y) {
            std::uint8_t* row = raw.get() + std::size_t(y) * (rowBytes + 1);
            if (!unfilterRow(row[0], row + 1, above, rowBytes, channels))
                return nullptr;
            above = row + 1;
            const std::uint8_t* in = row + 1;
            BYTE* out = FreeImage_GetScanLine(dib.get(), int(height - 1 - y));
            if (channels == 4) {
                std::uint8_t alphas = 0xff;
                for (std::uint32_t x = 0; x < width; ++x, in += 4, out += 4) {
                    out[FI_RGBA_RED] = in[0];
                    out[FI_RGBA_GREEN] = in[1];
                    out[FI_RGBA_BLUE] = in[2];
                    out[FI_RGBA_ALPHA] = in[3];
                    alphas &= in[3];
                }
                opaque = opaque && alphas == 0xff;
            } else {
                for (std::uint32_t x = 0; x < width; ++x, in += 3, out += 3) {
                    out[FI_RGBA_RED] = in[0];
                    out[FI_RGBA_GREEN] = in[1];
                    out[FI_RGBA_BLUE] = in[2];
                }
            }
        }
        if (channels == 4)
            FreeImage_SetTransparent(dib.get(), opaque ? FALSE : TRUE);
        if (metres) {
            FreeImage_SetDotsPerMeterX(dib.get(), dotsX);
            FreeImage_SetDotsPerMeterY(dib.get(), dotsY);
        }
        return dib;
    } catch (const std::bad_alloc&) {
        return nullptr; // FreeImage's reader says what memory it lacks
    }
}
