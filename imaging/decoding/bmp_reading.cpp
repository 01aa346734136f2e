// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoding/bmp_reading.h"

#include "imaging/decoding/bmp_layout.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

using namespace bmp;

namespace {

// One channel's bit field, scaled to 8 bits as v × 255 / max, rounded: a full
// field gives 255 whatever its width.
class Field {
public:
    explicit Field(std::uint32_t bits = 0) : mask(bits)
    {
        if (mask == 0) {
            scaled.assign(1, 0);
            return;
        }
        while (!(mask >> shift & 1u))
            ++shift;
        max = mask >> shift;
        // Fields up to 16 bits get a table; wider ones are scaled per pixel.
        if (max <= 0xFFFF) {
            scaled.resize(max + 1);
            for (std::uint32_t v = 0; v <= max; ++v)
                scaled[v] = scale(v);
        }
    }
    bool present() const { return mask != 0; }
    BYTE of(std::uint32_t pixel) const
    {
        const std::uint32_t v = (pixel & mask) >> shift;
        return scaled.empty() ? scale(v) : scaled[v];
    }

private:
    BYTE scale(std::uint32_t v) const { return BYTE((std::uint64_t(v) * 255 + max / 2) / max); }

    std::uint32_t mask = 0;
    unsigned shift = 0;
    std::uint32_t max = 0;
    std::vector<BYTE> scaled;
};

// Bytes of one uncompressed row, padded to 4 bytes, and of its pixels alone.
std::uint64_t rowStride(const Layout& layout)
{
    return (std::uint64_t(layout.width) * layout.bits + 31) / 32 * 4;
}

std::uint64_t rowPixelBytes(const Layout& layout)
{
    return (std::uint64_t(layout.width) * layout.bits + 7) / 8;
}

std::uint32_t pixelWord(const unsigned char* at, unsigned bytes)
{
    std::uint32_t word = 0;
    for (unsigned i = 0; i < bytes; ++i)
        word |= std::uint32_t(at[i]) << (8 * i);
    return word;
}

// How many pixels of file row `row` the file holds in full.
std::int64_t pixelsInRow(const FileBytes& file, const Layout& layout, std::int64_t row)
{
    const std::uint64_t at = layout.pixelsAt + std::uint64_t(row) * rowStride(layout);
    if (at >= file.size)
        return 0;
    const std::uint64_t bytes = std::min<std::uint64_t>(file.size - at, rowPixelBytes(layout));
    return std::min<std::int64_t>(layout.width, std::int64_t(bytes * 8 / layout.bits));
}

// Whether the alpha field holds anything: one that is 0 in every pixel is padding.
bool alphaCarriesSomething(const FileBytes& file, const Layout& layout)
{
    const std::uint32_t mask = layout.masks[3];
    if (mask == 0 || layout.coding == Coding::Rle24)
        return false;
    const unsigned bytes = layout.bits / 8;
    for (std::int64_t row = 0; row < layout.height; ++row) {
        const std::int64_t count = pixelsInRow(file, layout, row);
        if (count == 0)
            break; // the file ends here
        const unsigned char* in = file.data + layout.pixelsAt + row * rowStride(layout);
        for (std::int64_t x = 0; x < count; ++x)
            if (pixelWord(in + x * bytes, bytes) & mask)
                return true;
    }
    return false;
}

BYTE* outputLine(FIBITMAP* dib, const Layout& layout, std::int64_t row)
{
    // Scan line 0 is the bottom row, as in a bottom-up file.
    return FreeImage_GetScanLine(dib, int(layout.topDown ? layout.height - 1 - row : row));
}

// Uncompressed rows, into 24 bits (complete and opaque files) or 32.
void readRows(const FileBytes& file, const Layout& layout, bool alpha, FIBITMAP* dib)
{
    const unsigned step = FreeImage_GetBPP(dib) / 8;
    const Field red(layout.masks[0]), green(layout.masks[1]), blue(layout.masks[2]),
        opacity(alpha ? layout.masks[3] : 0);
    const bool plainBgr = layout.coding == Coding::Rgb && layout.bits == 24;
    // 32 bits whose fields are whole bytes (the common layouts) are copied byte by byte.
    std::array<int, 4> bytePlaces{-1, -1, -1, -1};
    if (layout.bits == 32) {
        auto place = [](std::uint32_t mask) {
            for (int i = 0; i < 4; ++i)
                if (mask == 0xFFu << (8 * i))
                    return i;
            return -1;
        };
        for (int i = 0; i < 4; ++i)
            bytePlaces[i] = place(i < 3 || alpha ? layout.masks[i] : 0);
        if (bytePlaces[0] < 0 || bytePlaces[1] < 0 || bytePlaces[2] < 0 ||
            (alpha && bytePlaces[3] < 0))
            bytePlaces[0] = -1;
    }
    const unsigned bits = layout.bits;
    for (std::int64_t row = 0; row < layout.height; ++row) {
        BYTE* out = outputLine(dib, layout, row);
        const std::int64_t count = pixelsInRow(file, layout, row);
        const unsigned char* in =
            count > 0 ? file.data + layout.pixelsAt + row * rowStride(layout) : nullptr;
        if (count == 0) {
            // nothing of this row is in the file
        } else if (plainBgr && step == 3) {
            std::memcpy(out, in, std::size_t(count) * 3);
        } else if (bits <= 8) {
            const unsigned mask = (1u << bits) - 1;
            for (std::int64_t x = 0; x < count; ++x) {
                const std::uint64_t bit = std::uint64_t(x) * bits;
                const unsigned index =
                    bits == 8 ? in[x] : in[bit / 8] >> (8 - bits - bit % 8) & mask;
                const RGBQUAD& colour = layout.palette[index];
                BYTE* pixel = out + x * step;
                pixel[FI_RGBA_BLUE] = colour.rgbBlue;
                pixel[FI_RGBA_GREEN] = colour.rgbGreen;
                pixel[FI_RGBA_RED] = colour.rgbRed;
                if (step == 4)
                    pixel[FI_RGBA_ALPHA] = 255;
            }
        } else if (bytePlaces[0] >= 0) {
            for (std::int64_t x = 0; x < count; ++x) {
                const unsigned char* word = in + x * 4;
                BYTE* pixel = out + x * step;
                pixel[FI_RGBA_BLUE] = word[bytePlaces[2]];
                pixel[FI_RGBA_GREEN] = word[bytePlaces[1]];
                pixel[FI_RGBA_RED] = word[bytePlaces[0]];
                if (step == 4)
                    pixel[FI_RGBA_ALPHA] = bytePlaces[3] >= 0 ? word[bytePlaces[3]] : 255;
            }
        } else {
            const unsigned bytes = bits / 8;
            for (std::int64_t x = 0; x < count; ++x) {
                const std::uint32_t word = pixelWord(in + x * bytes, bytes);
                BYTE* pixel = out + x * step;
                pixel[FI_RGBA_BLUE] = blue.of(word);
                pixel[FI_RGBA_GREEN] = green.of(word);
                pixel[FI_RGBA_RED] = red.of(word);
                if (step == 4)
                    pixel[FI_RGBA_ALPHA] = opacity.present() ? opacity.of(word) : 255;
            }
        }
        if (count < layout.width) // cut off: transparent black
            std::memset(out + count * step, 0, std::size_t(layout.width - count) * step);
    }
}

// An RLE8, RLE4 or 24-bit RLE stream into a 32-bit bitmap that starts
// transparent black: pixels the stream skips or never reaches stay so. False
// when the file ends before the stream does (the stream's own end, or its last pixel).
bool readRle(const FileBytes& file, const Layout& layout, FIBITMAP* dib)
{
    const unsigned char* data = file.data;
    const std::size_t size = file.size;
    const std::size_t colourBytes = layout.coding == Coding::Rle24 ? 3 : 1;
    std::size_t at = layout.pixelsAt;
    std::int64_t x = 0;
    std::int64_t y = 0;
    BYTE* line = outputLine(dib, layout, 0);
    auto put = [&](std::int64_t column, const RGBQUAD& colour) {
        if (column >= layout.width)
            return; // runs past the line's end are cut
        BYTE* pixel = line + column * 4;
        pixel[FI_RGBA_BLUE] = colour.rgbBlue;
        pixel[FI_RGBA_GREEN] = colour.rgbGreen;
        pixel[FI_RGBA_RED] = colour.rgbRed;
        pixel[FI_RGBA_ALPHA] = 255;
    };
    // Colour `i` of a run or of an absolute stretch that starts at `in`.
    auto colourAt = [&](const unsigned char* in, std::int64_t i, bool run) {
        switch (layout.coding) {
        case Coding::Rle24:
            return run ? RGBQUAD{in[0], in[1], in[2], 0}
                       : RGBQUAD{in[3 * i], in[3 * i + 1], in[3 * i + 2], 0};
        case Coding::Rle4: {
            const BYTE both = run ? in[0] : in[i / 2];
            return layout.palette[i % 2 == 0 ? both >> 4 : both & 15];
        }
        default:
            return layout.palette[run ? in[0] : in[i]];
        }
    };
    auto moveTo = [&](std::int64_t row) {
        y = row;
        if (y < layout.height)
            line = outputLine(dib, layout, y);
    };

    while (y < layout.height && at < size && size - at >= 2) {
        const unsigned count = data[at];
        if (count > 0) {
            if (size - at - 1 < colourBytes)
                break;
            const unsigned char* colour = data + at + 1;
            at += 1 + colourBytes;
            for (unsigned i = 0; i < count; ++i)
                put(x + i, colourAt(colour, i, true));
            x += count;
            continue;
        }
        const unsigned code = data[at + 1];
        at += 2;
        if (code == 0) { // end of line
            x = 0;
            moveTo(y + 1);
        } else if (code == 1) { // end of bitmap
            return true;
        } else if (code == 2) { // move right and up; the pixels passed stay undefined
            if (size - at < 2)
                break;
            x += data[at];
            moveTo(y + data[at + 1]);
            at += 2;
        } else { // `code` pixels stored one by one, padded to 2 bytes
            const std::size_t bytes =
                layout.coding == Coding::Rle4 ? (code + 1) / 2 : code * colourBytes;
            const std::size_t held = std::min(bytes, size - at);
            const std::int64_t whole = layout.coding == Coding::Rle4
                                           ? std::int64_t(held * 2)
                                           : std::int64_t(held / colourBytes);
            for (std::int64_t i = 0; i < std::min<std::int64_t>(code, whole); ++i)
                put(x + i, colourAt(data + at, i, false));
            if (held < bytes)
                break;
            x += code;
            at += bytes + (bytes & 1);
        }
    }
    // A stream without its end code is whole when it reached the last pixel.
    return y >= layout.height || (y == layout.height - 1 && x >= layout.width);
}

} // namespace

bool looksLikeBmp(const unsigned char* data, std::size_t size)
{
    return size >= 2 && data[0] == 'B' && (data[1] == 'M' || data[1] == 'A');
}

DecodeOutcome decodeBmp(const unsigned char* data, std::size_t size, const DecodeLimits& limits,
                        const HeaderRead& headerRead)
{
    DecodeOutcome outcome;
    outcome.failure = DecodeFailure::Unreadable;
    const FileBytes file(data, size);
    Layout layout;
    outcome.reason = readLayout(file, layout);
    if (!outcome.reason.isEmpty())
        return outcome;

    if (headerRead)
        headerRead(std::uint64_t(layout.width), std::uint64_t(layout.height),
                   PixelsPerByte::Bounded);
    // The size is checked before anything else is worked out from it.
    auto refuseSize = [&](unsigned depth) {
        outcome.reason =
            sizeRefusal(std::uint64_t(layout.width), std::uint64_t(layout.height), depth, limits);
        if (!outcome.reason.isEmpty())
            outcome.failure = DecodeFailure::TooLarge;
        return !outcome.reason.isEmpty();
    };
    if (refuseSize(24))
        return outcome;
    if (layout.pixelsAt >= size) {
        outcome.reason = damaged(QStringLiteral("it ends before its pixels"));
        return outcome;
    }
    const bool rle = layout.coding == Coding::Rle8 || layout.coding == Coding::Rle4 ||
                     layout.coding == Coding::Rle24;
    const bool alpha = !rle && alphaCarriesSomething(file, layout);
    const bool complete =
        size - layout.pixelsAt >=
        rowStride(layout) * std::uint64_t(layout.height - 1) + rowPixelBytes(layout);
    const unsigned depth = rle || alpha || !complete ? 32 : 24;
    if (depth == 32 && refuseSize(32))
        return outcome;

    BitmapPtr dib(FreeImage_Allocate(int(layout.width), int(layout.height), int(depth)));
    if (!dib) {
        outcome.failure = DecodeFailure::TooLarge;
        outcome.reason = QStringLiteral("Out of memory while decoding");
        return outcome;
    }
    if (rle) {
        // Every pixel is written: transparent black until the stream defines it.
        for (std::int64_t row = 0; row < layout.height; ++row)
            std::memset(FreeImage_GetScanLine(dib.get(), int(row)), 0,
                        std::size_t(layout.width) * 4);
        if (!readRle(file, layout, dib.get()))
            outcome.damage = QStringLiteral("The BMP file ends before its pixel data do");
    } else {
        readRows(file, layout, alpha, dib.get());
        if (!complete)
            outcome.damage = QStringLiteral("The BMP file ends before its pixel data do");
    }
    if (layout.hasResolution) {
        FreeImage_SetDotsPerMeterX(dib.get(), layout.dotsPerMeterX);
        FreeImage_SetDotsPerMeterY(dib.get(), layout.dotsPerMeterY);
    }
    outcome.bitmap = std::move(dib);
    outcome.failure = DecodeFailure::None;
    outcome.reason.clear();
    return outcome;
}
