#include "bmp_reading.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint32_t signatureBM = 0x4D42; // "BM" read little-endian
constexpr std::uint32_t signatureBA = 0x4142; // "BA"

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

QString damaged(const QString& what)
{
    return QStringLiteral("The BMP file is damaged: %1").arg(what);
}

QString notRead(const QString& kind)
{
    return QStringLiteral("Glassmere does not read %1").arg(kind);
}

// Takes the file and info headers, masks and palette apart; returns the
// reason when the file cannot be read.
QString readLayout(const FileBytes& file, Layout& out)
{
    std::size_t start = 0;
    if (file.u16(0) == signatureBA) {
        // An OS/2 bitmap array: its first picture's headers follow; offsets
        // count from the start of the file.
        start = 14;
        if (file.u16(start) != signatureBM)
            return notRead(QStringLiteral("OS/2 bitmap arrays of icons or pointers"));
    }
    const std::size_t infoAt = start + 14;
    const std::uint32_t infoSize = file.u32(infoAt);
    enum { Os2v1, Os2v2, Windows } kind;
    if (infoSize == 12)
        kind = Os2v1;
    else if (infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 108 ||
             infoSize >= 124)
        kind = Windows;
    else if (infoSize >= 16 && infoSize <= 64)
        kind = Os2v2;
    else
        return damaged(QStringLiteral("an info header of %1 bytes").arg(infoSize));
    if (file.size < infoAt + 4 || file.size - infoAt < infoSize)
        return damaged(QStringLiteral("it ends inside its header"));
    // Short OS/2 2.x headers leave out the fields at their end: those are 0.
    auto field = [&](std::uint32_t offset, std::uint32_t width) -> std::uint32_t {
        if (offset + width > infoSize)
            return 0;
        return width == 2 ? file.u16(infoAt + offset) : file.u32(infoAt + offset);
    };

    std::uint32_t compression = 0;
    std::uint32_t coloursUsed = 0;
    if (kind == Os2v1) {
        out.width = field(4, 2);
        out.height = field(6, 2);
        out.bits = field(10, 2);
    } else {
        out.width = std::int32_t(field(4, 4));
        out.height = std::int32_t(field(8, 4));
        out.bits = field(14, 2);
        compression = field(16, 4);
        out.hasResolution = true;
        out.dotsPerMeterX = field(24, 4);
        out.dotsPerMeterY = field(28, 4);
        coloursUsed = field(32, 4);
    }
    if (out.width <= 0 || out.height == 0)
        return damaged(QStringLiteral("it declares %1 × %2 pixels").arg(out.width).arg(out.height));
    out.topDown = out.height < 0;
    out.height = std::abs(out.height);

    if (kind == Windows) {
        switch (compression) {
        case 0:
            out.coding = Coding::Rgb;
            break;
        case 1:
            out.coding = Coding::Rle8;
            break;
        case 2:
            out.coding = Coding::Rle4;
            break;
        case 3:
        case 6:
            out.coding = Coding::BitFields;
            break;
        case 4:
            return notRead(QStringLiteral("BMPs whose pixels are a JPEG stream (BI_JPEG)"));
        case 5:
            return notRead(QStringLiteral("BMPs whose pixels are a PNG stream (BI_PNG)"));
        case 11:
        case 12:
        case 13:
            return notRead(QStringLiteral("CMYK BMPs (compression %1)").arg(compression));
        default:
            return notRead(QStringLiteral("BMPs with compression %1").arg(compression));
        }
    } else if (kind == Os2v2) {
        switch (compression) {
        case 0:
            out.coding = Coding::Rgb;
            break;
        case 1:
            out.coding = Coding::Rle8;
            break;
        case 2:
            out.coding = Coding::Rle4;
            break;
        case 3:
            return notRead(QStringLiteral("OS/2 BMPs with Huffman 1D compression"));
        case 4:
            out.coding = Coding::Rle24;
            break;
        default:
            return notRead(QStringLiteral("OS/2 BMPs with compression %1").arg(compression));
        }
    }

    const unsigned bits = out.bits;
    bool bitsFit = false;
    switch (out.coding) {
    case Coding::Rgb:
        bitsFit = bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 ||
                  bits == 32;
        if (bits == 64)
            return notRead(QStringLiteral("BMPs of 64 bits per pixel"));
        break;
    case Coding::Rle8:
        bitsFit = bits == 8;
        break;
    case Coding::Rle4:
        bitsFit = bits == 4;
        break;
    case Coding::Rle24:
        bitsFit = bits == 24;
        break;
    case Coding::BitFields:
        bitsFit = bits == 16 || bits == 24 || bits == 32;
        break;
    }
    if (!bitsFit)
        return damaged(
            QStringLiteral("%1 bits per pixel with compression %2").arg(bits).arg(compression));

    std::size_t afterHeaders = infoAt + infoSize;
    if (out.coding == Coding::BitFields) {
        if (infoSize >= 52) {
            out.masks = {field(40, 4), field(44, 4), field(48, 4), field(52, 4)};
        } else {
            // A 40-byte header is followed by three masks, or four with alpha.
            const std::size_t count = compression == 6 ? 4 : 3;
            if (file.size - afterHeaders < 4 * count)
                return damaged(QStringLiteral("it ends inside its bit-field masks"));
            for (std::size_t i = 0; i < count; ++i)
                out.masks[i] = file.u32(afterHeaders + 4 * i);
            afterHeaders += 4 * count;
        }
    } else if (bits == 16) {
        out.masks = {0x7C00, 0x03E0, 0x001F, 0};
    } else if (bits >= 24) {
        // Only a header that has an alpha mask can give the fourth byte meaning.
        const std::uint32_t alpha = bits == 32 && kind == Windows ? field(52, 4) : 0;
        out.masks = {0xFF0000, 0x00FF00, 0x0000FF, alpha};
    }
    if (bits < 32)
        for (std::uint32_t& mask : out.masks)
            mask &= (1u << bits) - 1;

    const std::uint32_t offBits = file.u32(start + 10);
    if (bits <= 8) {
        const std::size_t entrySize = kind == Os2v1 ? 3 : 4;
        std::size_t entries = std::size_t(1) << bits;
        if (coloursUsed > 0 && coloursUsed < entries)
            entries = coloursUsed;
        // The palette ends where the pixels start, or at the end of the file.
        const std::size_t end =
            offBits > afterHeaders && offBits <= file.size ? offBits : file.size;
        entries = std::min(entries, (end - afterHeaders) / entrySize);
        out.palette.assign(256, RGBQUAD{0, 0, 0, 0});
        for (std::size_t i = 0; i < entries; ++i) {
            const std::size_t at = afterHeaders + i * entrySize;
            out.palette[i] =
                RGBQUAD{BYTE(file.u8(at)), BYTE(file.u8(at + 1)), BYTE(file.u8(at + 2)), 0};
        }
        afterHeaders += entries * entrySize;
    }
    // An offset into the headers is damage; the pixels then follow them.
    out.pixelsAt = offBits >= afterHeaders ? offBits : afterHeaders;
    return {};
}

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
// transparent black: pixels the stream skips or never reaches stay so.
void readRle(const FileBytes& file, const Layout& layout, FIBITMAP* dib)
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
            break;
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
        headerRead(std::uint64_t(layout.width), std::uint64_t(layout.height));
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
        readRle(file, layout, dib.get());
    } else {
        readRows(file, layout, alpha, dib.get());
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
