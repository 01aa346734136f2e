// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoding/png_reader.h"

#include "imaging/decoding/decode_vocabulary.h"

#include <libdeflate.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace {

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

// Undoes a row's filter: `in` holds the filtered bytes, `out` gets the row
// (zeros above the first row). `out` may be `in` or lie before it: each byte
// is read before any byte after it is written.
bool unfilterRow(std::uint8_t filter, const std::uint8_t* in, std::uint8_t* out,
                 const std::uint8_t* above, std::size_t length, std::size_t bpp)
{
    switch (filter) {
    case 0:
        std::memmove(out, in, length);
        return true;
    case 1:
        for (std::size_t i = 0; i < length; ++i)
            out[i] = std::uint8_t(in[i] + (i >= bpp ? out[i - bpp] : 0));
        return true;
    case 2:
        for (std::size_t i = 0; i < length; ++i)
            out[i] = std::uint8_t(in[i] + above[i]);
        return true;
    case 3:
        for (std::size_t i = 0; i < bpp; ++i)
            out[i] = std::uint8_t(in[i] + (above[i] >> 1));
        for (std::size_t i = bpp; i < length; ++i)
            out[i] = std::uint8_t(in[i] + ((out[i - bpp] + above[i]) >> 1));
        return true;
    case 4:
        for (std::size_t i = 0; i < bpp; ++i) // Paeth of (0, b, 0) is b
            out[i] = std::uint8_t(in[i] + above[i]);
        for (std::size_t i = bpp; i < length; ++i) {
            const int a = out[i - bpp], b = above[i], c = above[i - bpp];
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            const int predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            out[i] = std::uint8_t(in[i] + predicted);
        }
        return true;
    default:
        return false; // FreeImage's reader refuses such a row too
    }
}

// The file's red, green, blue order as FreeImage's blue, green, red.
void swapRedAndBlue(std::uint8_t* row, std::uint32_t width, unsigned channels)
{
    for (std::uint32_t x = 0; x < width; ++x, row += channels)
        std::swap(row[0], row[2]);
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
        const std::uint32_t length = bigEndian32(data + at);
        if (length > 0x7fffffffu || size - at - 12 < length)
            return nullptr;
        const unsigned char* type = data + at + 4;
        const unsigned char* body = type + 4;
        if (libdeflate_crc32(libdeflate_crc32(0, type, 4), body, length) !=
            bigEndian32(body + length))
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
            width = bigEndian32(body);
            height = bigEndian32(body + 4);
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
                dotsX = bigEndian32(body);
                dotsY = bigEndian32(body + 4);
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
        // The rows are inflated into the bitmap's own block where it has room
        // for them (the decoder's memory the program reads the picture from),
        // far enough in that each row, unfiltered top-down into the place of
        // line y, never overtakes the filtered rows still to come; then the
        // lines are turned bottom-up. Elsewhere they are inflated apart.
        const std::size_t rowBytes = std::size_t(width) * channels;
        const std::size_t rawBytes = (rowBytes + 1) * height;
        const std::size_t pitch = (rowBytes + 3) / 4 * 4;
        const std::size_t lead = pitch > rowBytes + 1 ? (pitch - rowBytes - 1) * (height - 1) : 0;
        const int bpp = int(channels * 8);
        BitmapPtr dib = allocatePicture(int(width), int(height), bpp, lead + rawBytes);
        std::unique_ptr<std::uint8_t[]> apart;
        std::uint8_t* raw = nullptr;
        if (dib) {
            raw = FreeImage_GetBits(dib.get()) + lead;
        } else {
            dib = allocatePicture(int(width), int(height), bpp);
            apart.reset(new std::uint8_t[rawBytes]);
            raw = apart.get();
        }
        if (!dib)
            return nullptr;
        std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor(
            libdeflate_alloc_decompressor());
        if (!decompressor ||
            libdeflate_zlib_decompress(decompressor.get(), stream, compressedBytes, raw, rawBytes,
                                       nullptr) != LIBDEFLATE_SUCCESS)
            return nullptr;
        joined = {};

        std::uint8_t* const bits = FreeImage_GetBits(dib.get());
        const std::vector<std::uint8_t> zeros(rowBytes, 0);
        const std::uint8_t* above = zeros.data();
        for (std::uint32_t y = 0; y < height; ++y) {
            const std::uint8_t* row = raw + std::size_t(y) * (rowBytes + 1);
            std::uint8_t* out = bits + std::size_t(y) * pitch;
            if (!unfilterRow(row[0], row + 1, out, above, rowBytes, channels))
                return nullptr;
            above = out;
        }
        apart.reset();
        bool opaque = true;
        std::vector<std::uint8_t> spare(pitch);
        for (std::uint32_t y = 0; y < (height + 1) / 2; ++y) {
            std::uint8_t* top = bits + std::size_t(y) * pitch;
            std::uint8_t* bottom = bits + std::size_t(height - 1 - y) * pitch;
            std::memset(top + rowBytes, 0, pitch - rowBytes);
            std::memset(bottom + rowBytes, 0, pitch - rowBytes);
            swapRedAndBlue(top, width, channels);
            if (bottom != top) {
                swapRedAndBlue(bottom, width, channels);
                std::memcpy(spare.data(), top, pitch);
                std::memcpy(top, bottom, pitch);
                std::memcpy(bottom, spare.data(), pitch);
            }
            if (channels == 4) {
                std::uint8_t alphas = 0xff;
                for (std::uint32_t x = 0; x < width; ++x)
                    alphas &= top[4 * x + 3] & bottom[4 * x + 3];
                opaque = opaque && alphas == 0xff;
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
