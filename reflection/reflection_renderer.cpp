#include "reflection_renderer.h"

#include "imaging/standard_bitmap.h"

#include <FreeImage.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

// Geometry. The result is the picture plus a strip of R mirrored lines against
// one edge, faded towards its outer end, plus `ge` zero lines at the opposite
// edge. Strip line t (t = 0 touches the picture) repeats picture line t counted
// from the reflecting edge; the last F strip lines are faded, s = R - 1 - t
// running from F - 1 down to 0 at the outer edge. Seen from the top-left:
//
//   bottom (1)       top (0)          left (2)              right (3, other)
//   +--------+       +--------+       +-----+-------+--+    +--+-------+-----+
//   | ge = 0 |       | strip  |       |strip|picture|ge|    |ge|picture|strip|
//   +--------+       | t=R-1  |       | t=R-1 .. t=0  |     |  |   t=0 .. R-1|
//   |picture |       |  ..t=0 |       +-----+-------+--+    +--+-------+-----+
//   +--------+       +--------+
//   | strip  |       |picture |
//   | t=0..  |       +--------+
//   +--------+       | ge = 0 |
//                    +--------+
//
// Every line of the result is written once, straight from the source: rows for
// top and bottom, mirrored runs of columns for left and right. Nothing is
// turned, cloned or converted on the way; FreeImage's bottom-up scan lines are
// handled by index arithmetic.

namespace {

using Byte = std::uint8_t;
using Word = std::uint32_t;

enum class Fade { Colour, Alpha };

// How one faded line changes its bytes, by their old value.
struct ColourTable {
    Byte channel[3][256]; // by byte position: blue, green, red
};
struct AlphaTable {
    Byte alpha[256];
};

// steps[n] = floor(k * n / f) for n = 0..255 and 0 <= k < f, by addition only:
// a division per entry would cost more than the fade itself.
void fillSteps(int k, int f, int* steps)
{
    int quotient = 0;
    int remainder = 0;
    for (int n = 0; n < 256; ++n) {
        steps[n] = quotient;
        remainder += k;
        while (remainder >= f) {
            remainder -= f;
            ++quotient;
        }
    }
}

// Colour fade of line s: v + ((F - 1 - s) * (c - v)) / F, truncated towards
// zero, i.e. the step towards c rounded towards v.
void fillTable(ColourTable& table, int s, int f, const int colour[3])
{
    int steps[256];
    fillSteps(f - 1 - s, f, steps);
    for (int c = 0; c < 3; ++c) {
        const int target = colour[c];
        for (int v = 0; v < 256; ++v) {
            const int value = v <= target ? v + steps[target - v] : v - steps[v - target];
            table.channel[c][v] = static_cast<Byte>(value);
        }
    }
}

// Alpha fade of line s: alpha * s / F.
void fillTable(AlphaTable& table, int s, int f, const int*)
{
    int steps[256];
    fillSteps(s, f, steps);
    for (int a = 0; a < 256; ++a)
        table.alpha[a] = static_cast<Byte>(steps[a]);
}

inline Word load32(const Byte* p)
{
    Word w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

inline void store32(Byte* p, Word w)
{
    std::memcpy(p, &w, sizeof w);
}

constexpr Word opaque = Word(0xFF) << (8 * FI_RGBA_ALPHA);

// Four 24-bit pixels from three little-endian words (12 bytes).
inline void unpack4(const Byte* p, Word& p0, Word& p1, Word& p2, Word& p3)
{
    const Word w0 = load32(p);
    const Word w1 = load32(p + 4);
    const Word w2 = load32(p + 8);
    p0 = w0 & 0xFFFFFF;
    p1 = (w0 >> 24) | ((w1 & 0xFFFF) << 8);
    p2 = (w1 >> 16) | ((w2 & 0xFF) << 16);
    p3 = w2 >> 8;
}

// n pixels copied in order; 24-bit pixels gain alpha 255 when widened.
template <int SB, int DB> void copyRun(const Byte* src, Byte* dst, int n)
{
    if constexpr (SB == DB) {
        std::memcpy(dst, src, std::size_t(n) * SB);
    } else {
        static_assert(SB == 3 && DB == 4);
        int i = 0;
        for (; i + 4 <= n; i += 4, src += 12, dst += 16) {
            Word p0, p1, p2, p3;
            unpack4(src, p0, p1, p2, p3);
            store32(dst, p0 | opaque);
            store32(dst + 4, p1 | opaque);
            store32(dst + 8, p2 | opaque);
            store32(dst + 12, p3 | opaque);
        }
        for (; i < n; ++i, src += 3, dst += 4) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            dst[3] = 0xFF;
        }
    }
}

// n pixels copied in reverse order: `src` is the first pixel read, the next
// one lies SB bytes before it.
template <int SB, int DB> void copyRunReversed(const Byte* src, Byte* dst, int n)
{
    int i = 0;
    if constexpr (SB == 4) {
        for (; i < n; ++i, src -= 4, dst += 4)
            store32(dst, load32(src));
    } else {
        // Four pixels at a time from the 12 bytes that end with the pixel at src.
        for (; i + 4 <= n; i += 4, src -= 12, dst += DB * 4) {
            Word p0, p1, p2, p3;
            unpack4(src - 9, p0, p1, p2, p3);
            if constexpr (DB == 4) {
                store32(dst, p3 | opaque);
                store32(dst + 4, p2 | opaque);
                store32(dst + 8, p1 | opaque);
                store32(dst + 12, p0 | opaque);
            } else {
                store32(dst, p3 | (p2 << 24));
                store32(dst + 4, (p2 >> 8) | (p1 << 16));
                store32(dst + 8, (p1 >> 16) | (p0 << 8));
            }
        }
        for (; i < n; ++i, src -= 3, dst += DB) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            if constexpr (DB == 4)
                dst[3] = 0xFF;
        }
    }
}

// n faded pixels: source pixels `srcStep` bytes apart (negative when mirrored),
// one table per pixel `tableStep` tables apart (0: one table for the run).
template <int SB, int DB, Fade fade, class Table>
void fadeRun(const Byte* src, std::ptrdiff_t srcStep, Byte* dst, int n, const Table* table,
             std::ptrdiff_t tableStep)
{
    if constexpr (fade == Fade::Colour) {
        static_assert(SB == DB);
        for (int i = 0; i < n; ++i, src += srcStep, dst += DB, table += tableStep) {
            const Byte b = table->channel[0][src[0]];
            const Byte g = table->channel[1][src[1]];
            const Byte r = table->channel[2][src[2]];
            if constexpr (DB == 4) {
                store32(dst, Word(b) | Word(g) << 8 | Word(r) << 16 | Word(src[3]) << 24);
            } else {
                dst[0] = b;
                dst[1] = g;
                dst[2] = r;
            }
        }
    } else {
        static_assert(DB == 4);
        for (int i = 0; i < n; ++i, src += srcStep, dst += 4, table += tableStep) {
            if constexpr (SB == 4) {
                const Word p = load32(src);
                store32(dst, (p & 0xFFFFFF) | Word(table->alpha[p >> 24]) << 24);
            } else {
                const Word p = Word(src[0]) | Word(src[1]) << 8 | Word(src[2]) << 16;
                store32(dst, p | Word(table->alpha[255]) << 24);
            }
        }
    }
}

struct Frame {
    const Byte* srcBits;
    std::ptrdiff_t srcPitch;
    int width;  // source
    int height; // source
    Byte* outBits;
    std::ptrdiff_t outPitch;
    int outWidth;
    int outHeight;
    int direction; // 0 top, 1 bottom, 2 left, 3 right
    int strip;     // R
    int faded;     // F
    int ge;
    int colour[3]; // blue, green, red
};

template <int DB> void zeroPadding(Byte* line, const Frame& f)
{
    const std::size_t used = std::size_t(f.outWidth) * DB;
    std::memset(line + used, 0, std::size_t(f.outPitch) - used);
}

// Top and bottom: every result row is a zero row, a picture row or a strip row.
template <int SB, int DB, Fade fade, class Table> void renderRows(const Frame& f)
{
    const bool top = f.direction == 0;
    const int pictureTop = top ? f.strip : f.ge;
    Table table;
    for (int i = 0; i < f.outHeight; ++i) { // scan line i: i = 0 is the bottom row
        Byte* line = f.outBits + i * f.outPitch;
        const int y = f.outHeight - 1 - i; // counted from the top
        int row;                           // picture row, counted from the top
        int t = -1;                        // strip line, -1 for a picture row
        if (y >= pictureTop && y < pictureTop + f.height) {
            row = y - pictureTop;
        } else if (top && y < f.strip) {
            t = f.strip - 1 - y;
            row = t;
        } else if (!top && y >= pictureTop + f.height) {
            t = y - pictureTop - f.height;
            row = f.height - 1 - t;
        } else {
            std::memset(line, 0, std::size_t(f.outPitch));
            continue;
        }
        const Byte* src = f.srcBits + (f.height - 1 - row) * f.srcPitch;
        const int s = f.strip - 1 - t;
        if (t >= 0 && s < f.faded) {
            fillTable(table, s, f.faded, f.colour);
            fadeRun<SB, DB, fade>(src, SB, line, f.width, &table, 0);
        } else {
            copyRun<SB, DB>(src, line, f.width);
        }
        zeroPadding<DB>(line, f);
    }
}

// Left and right: every result row is source row, mirrored columns and zeros.
// The faded columns each need their own table; they are done in tiles of
// columns over blocks of rows so that a tile's tables stay in the first-level
// cache while its rows pass.
template <int SB, int DB, Fade fade, class Table> void renderColumns(const Frame& f)
{
    const bool left = f.direction == 2;
    const int unfaded = f.strip - f.faded;
    std::vector<Table> tables(std::size_t(f.faded)); // by s
    for (int s = 0; s < f.faded; ++s)
        fillTable(tables[std::size_t(s)], s, f.faded, f.colour);

    // Result columns where the picture and the zero columns begin.
    const int pictureLeft = left ? f.strip : f.ge;
    const int zeroLeft = left ? f.strip + f.width : 0;
    // Left: result column x < R shows source column R - 1 - x; the faded ones
    // are x = 0 .. F - 1 with s = x. Right: result column ge + W + t shows
    // source column W - 1 - t; faded t = R - F .. R - 1 with s = R - 1 - t.
    const int fadedLeft = left ? 0 : f.ge + f.width + unfaded;
    const int fadedFirstSource = left ? f.strip - 1 : f.width - 1 - unfaded;
    const int fadedFirstTable = left ? 0 : f.faded - 1;
    const std::ptrdiff_t tableStep = left ? 1 : -1;
    const int unfadedLeft = left ? f.faded : f.ge + f.width;
    const int unfadedFirstSource = left ? unfaded - 1 : f.width - 1;

    constexpr int blockRows = 32;
    constexpr int tileColumns = fade == Fade::Colour ? 16 : 64;
    for (int i0 = 0; i0 < f.outHeight; i0 += blockRows) {
        const int i1 = std::min(i0 + blockRows, f.outHeight);
        for (int i = i0; i < i1; ++i) {
            const Byte* src = f.srcBits + i * f.srcPitch;
            Byte* line = f.outBits + i * f.outPitch;
            std::memset(line + std::size_t(zeroLeft) * DB, 0, std::size_t(f.ge) * DB);
            copyRun<SB, DB>(src, line + std::size_t(pictureLeft) * DB, f.width);
            copyRunReversed<SB, DB>(src + std::ptrdiff_t(unfaded ? unfadedFirstSource : 0) * SB,
                                    line + std::size_t(unfadedLeft) * DB, unfaded);
            zeroPadding<DB>(line, f);
        }
        for (int c0 = 0; c0 < f.faded; c0 += tileColumns) {
            const int n = std::min(tileColumns, f.faded - c0);
            const Table* table = tables.data() + fadedFirstTable + c0 * tableStep;
            for (int i = i0; i < i1; ++i) {
                const Byte* src =
                    f.srcBits + i * f.srcPitch + std::ptrdiff_t(fadedFirstSource - c0) * SB;
                Byte* dst = f.outBits + i * f.outPitch + std::ptrdiff_t(fadedLeft + c0) * DB;
                fadeRun<SB, DB, fade>(src, -SB, dst, n, table, tableStep);
            }
        }
    }
}

template <int SB, int DB, Fade fade> void render(const Frame& f)
{
    using Table = std::conditional_t<fade == Fade::Colour, ColourTable, AlphaTable>;
    if (f.direction == 0 || f.direction == 1)
        renderRows<SB, DB, fade, Table>(f);
    else
        renderColumns<SB, DB, fade, Table>(f);
}

// What a bitmap fresh from FreeImage_Allocate carries as its resolution.
struct DefaultResolution {
    unsigned x = 0;
    unsigned y = 0;
    DefaultResolution()
    {
        if (FIBITMAP* probe = FreeImage_Allocate(1, 1, 24)) {
            x = FreeImage_GetDotsPerMeterX(probe);
            y = FreeImage_GetDotsPerMeterY(probe);
            FreeImage_Unload(probe);
        }
    }
};

// True when `dib` owns its pixels; a dynamic view or a bitmap over outside
// memory does not, and writing into it would change another picture. FreeImage
// keeps its own pixels right after the info header (and, for some bitmaps,
// three colour masks), aligned to 16 bytes: no other block can start there.
bool ownsPixels(FIBITMAP* dib)
{
    constexpr std::uintptr_t alignment = 16;
    const auto aligned = [](std::uintptr_t p) {
        return (p + alignment - 1) / alignment * alignment;
    };
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(FreeImage_GetInfoHeader(dib)) +
                               sizeof(BITMAPINFOHEADER) +
                               sizeof(RGBQUAD) * FreeImage_GetColorsUsed(dib);
    const std::uintptr_t bits = reinterpret_cast<std::uintptr_t>(FreeImage_GetBits(dib));
    return bits == aligned(end) || bits == aligned(end + 3 * sizeof(DWORD));
}

// A previous result may take the new one only when, once every pixel byte is
// rewritten, nothing tells it from a new bitmap: same size and depth, own
// pixels, standard masks, no palette, transparency table, background colour,
// thumbnail, ICC profile or metadata, and the default resolution.
bool isReusable(FIBITMAP* dib, int width, int height, int bpp)
{
    if (!dib || !FreeImage_HasPixels(dib) || FreeImage_GetImageType(dib) != FIT_BITMAP)
        return false;
    if (FreeImage_GetWidth(dib) != unsigned(width) ||
        FreeImage_GetHeight(dib) != unsigned(height) || FreeImage_GetBPP(dib) != unsigned(bpp))
        return false;
    static const DefaultResolution fresh;
    if (FreeImage_GetDotsPerMeterX(dib) != fresh.x || FreeImage_GetDotsPerMeterY(dib) != fresh.y)
        return false;
    if (FreeImage_GetRedMask(dib) != FI_RGBA_RED_MASK ||
        FreeImage_GetGreenMask(dib) != FI_RGBA_GREEN_MASK ||
        FreeImage_GetBlueMask(dib) != FI_RGBA_BLUE_MASK)
        return false;
    if (FreeImage_GetColorsUsed(dib) != 0 || FreeImage_GetTransparencyCount(dib) != 0 ||
        FreeImage_HasBackgroundColor(dib) || FreeImage_GetThumbnail(dib))
        return false;
    const FIICCPROFILE* icc = FreeImage_GetICCProfile(dib);
    if (icc && (icc->data || icc->size || icc->flags))
        return false;
    for (int model = FIMD_COMMENTS; model <= FIMD_EXIF_RAW; ++model) {
        if (FreeImage_GetMetadataCount(FREE_IMAGE_MDMODEL(model), dib) != 0)
            return false;
    }
    return ownsPixels(dib);
}

} // namespace

bool renderReflection(const fipImage& source, fipImage& result, const ReflectionParams& params)
{
    // fipImage hands out its bitmap only through a non-const conversion; the
    // source is only read.
    FIBITMAP* srcDib = static_cast<FIBITMAP*>(const_cast<fipImage&>(source));
    if (!srcDib || !FreeImage_HasPixels(srcDib))
        return false;
    FIBITMAP* oldDib = static_cast<FIBITMAP*>(result);
    const bool aliased = &source == &result || srcDib == oldDib;

    BitmapPtr converted;
    if (!isStandardBitmap(srcDib)) {
        converted =
            convertToStandardBitmap(srcDib, params.transparent || FreeImage_IsTransparent(srcDib));
        if (!converted)
            return false;
        srcDib = converted.get();
    }

    Frame f{};
    f.srcBits = FreeImage_GetBits(srcDib);
    f.srcPitch = std::ptrdiff_t(FreeImage_GetPitch(srcDib));
    f.width = int(FreeImage_GetWidth(srcDib));
    f.height = int(FreeImage_GetHeight(srcDib));
    const int srcBytes = int(FreeImage_GetBPP(srcDib)) / 8;
    const int outBytes = params.transparent ? 4 : srcBytes;
    f.direction = params.direction >= 0 && params.direction <= 3 ? params.direction : 3;
    const bool vertical = f.direction <= 1;

    // Out-of-range settings are held to their meaningful range: a strip of
    // more than the picture, a fade longer than the strip or a negative count
    // of extra lines has no sound meaning.
    const int rate = std::clamp(params.rate, 0, 100);
    const int start = std::clamp(params.start, 0, 100);
    f.strip = (vertical ? f.height : f.width) * rate / 100;
    f.faded = (100 - start) * f.strip / 100;
    const long long across = (vertical ? f.height : f.width) + (long long)f.strip;
    const long long maxLines = std::numeric_limits<int>::max() / 4;
    f.ge = int(std::clamp<long long>(params.ge, 0, std::max(0LL, maxLines - across)));
    for (int c = 0; c < 3; ++c)
        f.colour[c] = 0;
    f.colour[FI_RGBA_BLUE] = std::clamp(params.color.blue, 0, 255);
    f.colour[FI_RGBA_GREEN] = std::clamp(params.color.green, 0, 255);
    f.colour[FI_RGBA_RED] = std::clamp(params.color.red, 0, 255);
    f.outWidth = vertical ? f.width : f.width + f.strip + f.ge;
    f.outHeight = vertical ? f.height + f.strip + f.ge : f.height;

    FIBITMAP* outDib = nullptr;
    BitmapPtr fresh;
    if (!aliased && isReusable(oldDib, f.outWidth, f.outHeight, outBytes * 8)) {
        outDib = oldDib;
    } else {
        fresh.reset(FreeImage_AllocateT(FIT_BITMAP, f.outWidth, f.outHeight, outBytes * 8));
        if (!fresh)
            return false;
        outDib = fresh.get();
    }
    f.outBits = FreeImage_GetBits(outDib);
    f.outPitch = std::ptrdiff_t(FreeImage_GetPitch(outDib));

    try {
        if (!params.transparent) {
            if (srcBytes == 3)
                render<3, 3, Fade::Colour>(f);
            else
                render<4, 4, Fade::Colour>(f);
        } else {
            if (srcBytes == 3)
                render<3, 4, Fade::Alpha>(f);
            else
                render<4, 4, Fade::Alpha>(f);
        }
    } catch (const std::bad_alloc&) {
        // Only the column tables allocate, before the first byte is written:
        // a reused result still holds the previous picture.
        return false;
    }

    if (fresh)
        result = fresh.release(); // releases the previous bitmap, and a source it aliased
    else
        FreeImage_SetTransparent(outDib, FALSE);
    return true;
}
