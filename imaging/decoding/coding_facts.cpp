// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoding/coding_facts.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

// The standard tables (ITU-T T.81, Annex K) that the IJG library scales by
// quality, row by row; a DQT segment holds its table in zig-zag order.
constexpr unsigned standardLuma[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr unsigned standardChroma[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
// Where the k-th value of a zig-zag sequence lies in a row-by-row table.
constexpr int zigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                            12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                            35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                            58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// libjpeg's jpeg_quality_scaling and jpeg_add_quant_table.
unsigned scaled(unsigned standard, int quality, bool sixteenBit)
{
    const long scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    const long value = (long(standard) * scale + 50) / 100;
    return unsigned(std::clamp(value, 1L, sixteenBit ? 32767L : 255L));
}

std::uint64_t distance(const unsigned (&table)[64], const unsigned (&standard)[64], int quality,
                       bool sixteenBit)
{
    std::uint64_t sum = 0;
    for (int i = 0; i < 64; ++i) {
        const unsigned want = scaled(standard[zigZag[i]], quality, sixteenBit);
        sum += table[i] > want ? table[i] - want : want - table[i];
    }
    return sum;
}

unsigned bigEndian16(const unsigned char* at)
{
    return unsigned(at[0]) << 8 | at[1];
}

struct JpegTables {
    unsigned values[4][64] = {};
    bool present[4] = {};
    bool sixteenBit[4] = {};
};

void readDqt(const unsigned char* at, std::size_t length, JpegTables& tables)
{
    std::size_t i = 0;
    while (i < length) {
        const unsigned precision = at[i] >> 4;
        const unsigned id = at[i] & 15;
        ++i;
        const std::size_t bytes = precision ? 128 : 64;
        if (id > 3 || precision > 1 || length - i < bytes)
            return;
        for (int k = 0; k < 64; ++k)
            tables.values[id][k] = precision ? bigEndian16(at + i + 2 * k) : at[i + k];
        tables.present[id] = true;
        tables.sixteenBit[id] = precision != 0;
        i += bytes;
    }
}

// The IJG quality whose tables lie nearest to these (in zig-zag order, as a
// DQT segment holds them); `chroma` may be null for a grey picture.
int estimateJpegQuality(const unsigned (&luma)[64], const unsigned (*chroma)[64], bool sixteenBit)
{
    int best = 0;
    std::uint64_t bestDistance = std::numeric_limits<std::uint64_t>::max();
    // From the top, so that a tie keeps the higher quality.
    for (int quality = 100; quality >= 1; --quality) {
        std::uint64_t d = distance(luma, standardLuma, quality, sixteenBit);
        if (chroma)
            d += distance(*chroma, standardChroma, quality, sixteenBit);
        if (d < bestDistance) {
            bestDistance = d;
            best = quality;
        }
    }
    return best;
}

SourceQuality readJpeg(const unsigned char* data, std::size_t size)
{
    SourceQuality source;
    source.lossy = 1;
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return source;
    JpegTables tables;
    std::size_t at = 2;
    unsigned lumaTable = 4;
    unsigned chromaTable = 4;
    while (at + 4 <= size) {
        if (data[at] != 0xFF)
            break; // not a marker where one must be
        const unsigned marker = data[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA)
            break; // the tables and the frame come before the first scan
        const std::size_t length = bigEndian16(data + at + 2);
        if (length < 2 || length > size - at - 2)
            break;
        const unsigned char* segment = data + at + 4;
        const std::size_t bytes = length - 2;
        if (marker == 0xDB) {
            readDqt(segment, bytes, tables);
        } else if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                   marker != 0xCC && bytes >= 6) {
            // A frame: precision, height, width, then per component id, sampling, table.
            source.progressive = (marker & 3) == 2;
            const unsigned components = segment[5];
            if (bytes >= 6 + 3 * std::size_t(components) && components >= 1) {
                lumaTable = segment[8] & 15;
                if (components == 3) {
                    chromaTable = segment[11] & 15;
                    const unsigned y = segment[7], cb = segment[10], cr = segment[13];
                    if (cb == 0x11 && cr == 0x11)
                        source.sampling = y == 0x11   ? ChromaSampling::Full
                                          : y == 0x21 ? ChromaSampling::Half
                                          : y == 0x22 ? ChromaSampling::Quarter
                                                      : ChromaSampling::Unknown;
                }
            }
        }
        at += 2 + length;
    }
    if (lumaTable < 4 && tables.present[lumaTable]) {
        const bool chroma = chromaTable < 4 && tables.present[chromaTable];
        source.quality = unsigned(estimateJpegQuality(
            tables.values[lumaTable], chroma ? &tables.values[chromaTable] : nullptr,
            tables.sixteenBit[lumaTable]));
    }
    return source;
}

// A WebP's picture is a VP8L stream when lossless, a VP8 one (with an ALPH
// chunk for its alpha) when lossy; an extended file (VP8X) says so in a later chunk.
SourceQuality readWebp(const unsigned char* data, std::size_t size)
{
    SourceQuality source;
    source.lossy = 1;
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WEBP", 4) != 0)
        return source;
    std::size_t at = 12;
    while (size - at >= 8) {
        const std::uint32_t length =
            std::uint32_t(data[at + 4]) | std::uint32_t(data[at + 5]) << 8 |
            std::uint32_t(data[at + 6]) << 16 | std::uint32_t(data[at + 7]) << 24;
        if (std::memcmp(data + at, "VP8L", 4) == 0) {
            source.lossy = 0;
            return source;
        }
        if (std::memcmp(data + at, "VP8 ", 4) == 0)
            return source;
        const std::uint64_t next = std::uint64_t(at) + 8 + length + (length & 1);
        if (next > size)
            break;
        at = std::size_t(next);
    }
    return source;
}

} // namespace

SourceQuality readSourceQuality(FREE_IMAGE_FORMAT format, const unsigned char* data,
                                std::size_t size)
{
    switch (format) {
    case FIF_JPEG:
        return readJpeg(data, size);
    case FIF_WEBP:
        return readWebp(data, size);
    case FIF_J2K:
    case FIF_JP2:
    case FIF_JNG:
    case FIF_JXR: {
        SourceQuality source;
        source.lossy = 1;
        return source;
    }
    default:
        return {};
    }
}
