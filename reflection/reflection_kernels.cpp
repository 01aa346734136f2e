#include "reflection_kernels.h"

#include "reflection/strip_blur.h"

#include <FreeImage.h>

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <limits>
#include <new>
#include <vector>

// Every line of the result is written once, straight from the source: rows for
// top and bottom, mirrored runs of columns for left and right, 24-bit pixels
// widened on the way in transparency mode, the opacity and the fade applied
// on the way. Nothing is turned, cloned or converted first; FreeImage's
// bottom-up scan lines are handled by index arithmetic. A blur needs the
// whole mirror first: then the strip is written plain, blurred by StripBlur,
// and given its opacity and fade in place.

namespace {

using Byte = std::uint8_t;
using Word = std::uint32_t;
using Pair = std::uint64_t;

enum class Fade { Colour, Alpha };

// Pixels are moved as little-endian words: blue in the low byte, alpha in the
// high one.
static_assert(FI_RGBA_BLUE == 0 && FI_RGBA_GREEN == 1 && FI_RGBA_RED == 2 && FI_RGBA_ALPHA == 3,
              "FreeImage's little-endian pixel layout is assumed");

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

inline void store64(Byte* p, Pair w)
{
    std::memcpy(p, &w, sizeof w);
}

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

// Two 32-bit pixels in one store.
inline void store2(Byte* p, Word first, Word second)
{
    store64(p, Pair(first) | Pair(second) << 32);
}

// Bytes the render does not read again are written with stores that bypass
// the cache where SSE2 has them: an ordinary store first fetches the whole
// cache line from memory, only to overwrite it.
#if defined(__SSE2__)
inline void storeVector(Byte* p, __m128i v, bool stream)
{
    if (stream)
        _mm_stream_si128(reinterpret_cast<__m128i*>(p), v);
    else
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

inline bool aligned16(const Byte* p)
{
    return (reinterpret_cast<std::uintptr_t>(p) & 15) == 0;
}
#endif

void streamCopy(Byte* dst, const Byte* src, std::size_t n)
{
#if defined(__SSE2__)
    const std::size_t head =
        std::min<std::size_t>(n, (16 - (reinterpret_cast<std::uintptr_t>(dst) & 15)) & 15);
    std::memcpy(dst, src, head);
    dst += head;
    src += head;
    n -= head;
    for (; n >= 64; n -= 64, dst += 64, src += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 48));
        storeVector(dst, a, true);
        storeVector(dst + 16, b, true);
        storeVector(dst + 32, c, true);
        storeVector(dst + 48, d, true);
    }
    for (; n >= 16; n -= 16, dst += 16, src += 16)
        storeVector(dst, _mm_loadu_si128(reinterpret_cast<const __m128i*>(src)), true);
#endif
    std::memcpy(dst, src, n);
}

// n pixels copied in order, with streaming stores when `stream`. 24-bit
// pixels widened to 32 bits get `alpha`.
template <int SB, int DB, bool stream = false>
void copyRun(const Byte* src, Byte* dst, int n, Byte alpha = 0xFF)
{
    if constexpr (SB == DB) {
        if (stream)
            streamCopy(dst, src, std::size_t(n) * SB);
        else
            std::memcpy(dst, src, std::size_t(n) * SB);
    } else {
        static_assert(SB == 3 && DB == 4);
        const Word a = Word(alpha) << 24;
        int i = 0;
#if defined(__SSE2__)
        if (stream && (reinterpret_cast<std::uintptr_t>(dst) & 3) == 0) {
            for (; i < n && !aligned16(dst); ++i, src += 3, dst += 4)
                store32(dst, Word(src[0]) | Word(src[1]) << 8 | Word(src[2]) << 16 | a);
            for (; i + 4 <= n; i += 4, src += 12, dst += 16) {
                Word p0, p1, p2, p3;
                unpack4(src, p0, p1, p2, p3);
                storeVector(dst, _mm_set_epi32(int(p3 | a), int(p2 | a), int(p1 | a), int(p0 | a)),
                            true);
            }
        }
#endif
        for (; i + 4 <= n; i += 4, src += 12, dst += 16) {
            Word p0, p1, p2, p3;
            unpack4(src, p0, p1, p2, p3);
            store2(dst, p0 | a, p1 | a);
            store2(dst + 8, p2 | a, p3 | a);
        }
        for (; i < n; ++i, src += 3, dst += 4) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            dst[3] = alpha;
        }
    }
}

// n pixels copied in reverse order: `src` is the first pixel read, the next
// one lies SB bytes before it. 24-bit pixels widened to 32 bits get alpha 255.
template <int SB, int DB> void copyRunReversed(const Byte* src, Byte* dst, int n)
{
    int i = 0;
    if constexpr (SB == 4) {
        for (; i + 2 <= n; i += 2, src -= 8, dst += 8)
            store2(dst, load32(src), load32(src - 4));
        for (; i < n; ++i, src -= 4, dst += 4)
            store32(dst, load32(src));
    } else {
        // Four pixels at a time from the 12 bytes that end with the pixel at src.
        for (; i + 4 <= n; i += 4, src -= 12, dst += DB * 4) {
            Word p0, p1, p2, p3;
            unpack4(src - 9, p0, p1, p2, p3);
            if constexpr (DB == 4) {
                constexpr Word opaque = 0xFF000000u;
                store2(dst, p3 | opaque, p2 | opaque);
                store2(dst + 8, p1 | opaque, p0 | opaque);
            } else {
                store64(dst, Pair(p3) | Pair(p2) << 24 | Pair(p1) << 48);
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

// The fade of a byte v in a line of strength k (0 <= k < F):
//   colour mode: v + (k * (c - v)) / F, truncated towards zero, k = F - 1 - s;
//   transparency mode, alpha bytes: v * k / F, k = s.
// Both come down to q = floor(k * d / F) for d = |c - v| or d = alpha, 0..255.
//
// With SSE2 this is computed 16 bytes at a time in 16-bit lanes, exactly:
// q0 = (d * M) >> 16 with M = ceil(k * 65536 / F) is q or q + 1, because M
// overshoots k * 65536 / F by less than 1 and d < 256. Which one shows in the
// sign of q0 * F - k * d: it lies in (-F, F], so its low 16 bits read as a
// signed number are exact for F < 32768. Longer fades take the scalar path.
constexpr int longestVectorFade = 32767;

inline std::uint16_t multiplier(int k, int f)
{
    return std::uint16_t((std::int64_t(k) * 65536 + f - 1) / f);
}

struct Fader {
    int f = 0;       // F, the number of faded lines
    int colour[3]{}; // by byte position: blue, green, red
    bool vector = false;
#if defined(__SSE2__)
    // 48 bytes (16 pixels of 3 bytes, 12 of 4) per round: the byte pattern of
    // the colour and of the bytes that fade repeats after 48 bytes.
    __m128i target[3];
    __m128i active[3];
#endif

    template <int DB> void prepare(int faded, const int c[3], Fade fade)
    {
        f = faded;
        for (int i = 0; i < 3; ++i)
            colour[i] = c[i];
#if defined(__SSE2__)
        vector = f > 0 && f <= longestVectorFade;
        alignas(16) Byte targets[48];
        alignas(16) Byte actives[48];
        for (int j = 0; j < 48; ++j) {
            const int channel = j % DB;
            const bool fades = fade == Fade::Colour ? channel < 3 : channel == 3;
            targets[j] = channel < 3 ? Byte(c[channel]) : 0;
            actives[j] = fades ? 0xFF : 0;
        }
        for (int part = 0; part < 3; ++part) {
            target[part] = _mm_load_si128(reinterpret_cast<const __m128i*>(targets + 16 * part));
            active[part] = _mm_load_si128(reinterpret_cast<const __m128i*>(actives + 16 * part));
        }
#endif
    }
};

#if defined(__SSE2__)
inline __m128i scaleWords(__m128i d, __m128i k, __m128i m, __m128i f)
{
    const __m128i q0 = _mm_mulhi_epu16(d, m);
    const __m128i excess = _mm_sub_epi16(_mm_mullo_epi16(q0, f), _mm_mullo_epi16(d, k));
    return _mm_add_epi16(q0, _mm_cmpgt_epi16(excess, _mm_setzero_si128()));
}

inline __m128i scaleBytes(__m128i d, __m128i kLow, __m128i kHigh, __m128i mLow, __m128i mHigh,
                          __m128i f)
{
    const __m128i zero = _mm_setzero_si128();
    return _mm_packus_epi16(scaleWords(_mm_unpacklo_epi8(d, zero), kLow, mLow, f),
                            scaleWords(_mm_unpackhi_epi8(d, zero), kHigh, mHigh, f));
}
#endif

// Fades n bytes of DB-byte pixels from src into dst (which may be src). The
// strength is k for every pixel, or with `lanes` one per byte in kLanes and
// mLanes (their multipliers), which the scalar path reads as
// kFirst + pixel * kStep.
template <int DB, Fade fade, bool lanes, bool stream = false>
void fadeBytes(const Fader& fader, const Byte* src, Byte* dst, int n, int kFirst, int kStep,
               const std::uint16_t* kLanes, const std::uint16_t* mLanes)
{
    int j = 0;
#if defined(__SSE2__)
    if (fader.vector) {
        const __m128i f = _mm_set1_epi16(short(fader.f));
        const __m128i k = _mm_set1_epi16(short(kFirst));
        const __m128i m = _mm_set1_epi16(short(multiplier(kFirst, fader.f)));
        const __m128i zero = _mm_setzero_si128();
        const bool streamNow = stream && aligned16(dst);
        for (; j + 48 <= n; j += 48) {
            for (int part = 0; part < 3; ++part) {
                const int o = j + 16 * part;
                __m128i kLow = k, kHigh = k, mLow = m, mHigh = m;
                if constexpr (lanes) {
                    kLow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLanes + o));
                    kHigh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLanes + o + 8));
                    mLow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mLanes + o));
                    mHigh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mLanes + o + 8));
                }
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + o));
                const __m128i active = fader.active[part];
                __m128i result;
                if constexpr (fade == Fade::Colour) {
                    const __m128i c = fader.target[part];
                    const __m128i up = _mm_and_si128(_mm_subs_epu8(c, v), active);
                    const __m128i down = _mm_and_si128(_mm_subs_epu8(v, c), active);
                    const __m128i q =
                        scaleBytes(_mm_or_si128(up, down), kLow, kHigh, mLow, mHigh, f);
                    const __m128i rising = _mm_cmpeq_epi8(down, zero);
                    result = _mm_sub_epi8(_mm_add_epi8(v, _mm_and_si128(q, rising)),
                                          _mm_andnot_si128(rising, q));
                } else {
                    const __m128i q =
                        scaleBytes(_mm_and_si128(v, active), kLow, kHigh, mLow, mHigh, f);
                    result = _mm_or_si128(_mm_andnot_si128(active, v), q);
                }
                storeVector(dst + o, result, streamNow);
            }
        }
    }
#else
    (void)kLanes;
    (void)mLanes;
#endif
    for (; j < n; ++j) {
        const int channel = j % DB;
        const int strength = lanes ? kFirst + (j / DB) * kStep : kFirst;
        const int v = src[j];
        if (fade == Fade::Colour && channel < 3)
            dst[j] = Byte(v + (strength * (fader.colour[channel] - v)) / fader.f);
        else if (fade == Fade::Alpha && channel == 3)
            dst[j] = Byte(v * strength / fader.f);
        else
            dst[j] = Byte(v);
    }
}

// The strength of strip line s (s = F - 1 on the first faded line, 0 at the
// outer edge).
template <Fade fade> int strength(int s, int f)
{
    return fade == Fade::Colour ? f - 1 - s : s;
}

using Frame = ReflectionFrame;

// The opacity is a fade of one strength over the whole strip, with 100 in
// place of F: colour mode moves (100 - O) % towards the colour, transparency
// mode keeps O % of the alpha.
template <int DB, Fade fade> struct Opacity {
    Fader fader;
    int k = 0;
    bool active = false;
    explicit Opacity(const Frame& f)
    {
        active = f.opacity < 100;
        k = fade == Fade::Colour ? 100 - f.opacity : f.opacity;
        fader.prepare<DB>(100, f.colour, fade);
        // The vector path's multiplier takes strengths below F only; opacity
        // 0 in colour mode (k = F = 100) takes the scalar one.
        fader.vector = fader.vector && k < 100;
    }
    template <bool stream = false> void apply(const Byte* src, Byte* dst, int bytes) const
    {
        fadeBytes<DB, fade, false, stream>(fader, src, dst, bytes, k, 0, nullptr, nullptr);
    }
};

// `count` pixels of the gap: the background colour, opaque, in colour mode;
// all 0 in transparency mode.
template <int DB, Fade fade> std::vector<Byte> gapPixels(const Frame& f, int count)
{
    std::vector<Byte> pixels(std::size_t(count) * DB, 0);
    if (fade == Fade::Colour) {
        for (int x = 0; x < count; ++x) {
            for (int c = 0; c < 3; ++c)
                pixels[std::size_t(x) * DB + c] = Byte(f.colour[c]);
            if (DB == 4)
                pixels[std::size_t(x) * DB + 3] = 0xFF;
        }
    }
    return pixels;
}

template <int DB> void zeroPadding(Byte* line, const Frame& f)
{
    const std::size_t used = std::size_t(f.outWidth) * DB;
    std::memset(line + used, 0, std::size_t(f.outPitch) - used);
}

// Where the picture, the gap and the strip begin along the axis across the
// reflecting edge (rows for top and bottom, columns for left and right), with
// the strip first (top, left) or last; `extent` is the picture's along it.
struct Layout {
    int picture;
    int gap;
    int strip;
};

Layout layoutAcross(const Frame& f, bool stripFirst, int extent)
{
    if (stripFirst)
        return {f.strip + f.gap, f.strip, 0};
    return {f.extraLines, f.extraLines + extent, f.extraLines + extent + f.gap};
}

// Top and bottom: every result row is a zero row, a picture row, a gap row or
// a strip row, given its opacity and faded with one strength along the row.
template <int SB, int DB, Fade fade> void renderRows(const Frame& f)
{
    Fader fader;
    fader.prepare<DB>(f.faded, f.colour, fade);
    const Opacity<DB, fade> opacity(f);
    const bool top = f.direction == Direction::Top;
    const Layout across = layoutAcross(f, top, f.height);
    const int pictureTop = across.picture;
    const int gapTop = across.gap;
    const int stripTop = across.strip;
    // Allocated before the first byte is written, so that running out of
    // memory leaves a reused result as it was.
    std::vector<Byte> gapLine = gapPixels<DB, fade>(f, f.width);
    gapLine.resize(std::size_t(f.outPitch), 0);
    std::vector<Byte> opaqueLine(opacity.active ? std::size_t(f.width) * DB : 0);
    StripBlur blur;
    if (f.blur > 0) {
        StripView view;
        view.lines = f.strip;
        view.width = f.width;
        view.channels = DB;
        view.pixelStep = DB;
        // Strip line t is result row stripTop + t (bottom) or R - 1 - t (top).
        const int firstRow = top ? f.strip - 1 : stripTop;
        view.first = f.outBits + std::ptrdiff_t(f.outHeight - 1 - firstRow) * f.outPitch;
        view.lineStep = top ? f.outPitch : -f.outPitch;
        if (!blur.prepare(view, f.blur,
                          fade == Fade::Alpha ? BlurAlpha::Premultiplied : BlurAlpha::Untouched))
            throw std::bad_alloc();
    }

    // At the same depth and pitch (a view into a larger picture has that
    // picture's pitch) the picture's rows are one block of scan lines in both
    // bitmaps: one copy, which the C library makes with stores that bypass the
    // cache. Only the padding needs fixing after it.
    const int pictureScan = f.outHeight - pictureTop - f.height; // its bottom row
    const bool blockCopy = SB == DB && f.srcPitch == f.outPitch;
    if (blockCopy) {
        Byte* block = f.outBits + pictureScan * f.outPitch;
        std::memcpy(block, f.srcBits, std::size_t(f.outPitch) * std::size_t(f.height));
        if (f.outPitch > std::ptrdiff_t(f.width) * DB) {
            for (int i = 0; i < f.height; ++i)
                zeroPadding<DB>(block + i * f.outPitch, f);
        }
    }
    for (int i = 0; i < f.outHeight; ++i) { // scan line i: i = 0 is the bottom row
        Byte* line = f.outBits + i * f.outPitch;
        const int y = f.outHeight - 1 - i; // counted from the top
        int row;                           // picture row, counted from the top
        int t = -1;                        // strip line, -1 for a picture row
        if (y >= pictureTop && y < pictureTop + f.height) {
            if (blockCopy)
                continue;
            row = y - pictureTop;
        } else if (y >= stripTop && y < stripTop + f.strip) {
            t = top ? f.strip - 1 - y : y - stripTop;
            row = top ? t : f.height - 1 - t;
        } else if (y >= gapTop && y < gapTop + f.gap) {
            streamCopy(line, gapLine.data(), std::size_t(f.outPitch));
            continue;
        } else {
            std::memset(line, 0, std::size_t(f.outPitch));
            continue;
        }
        const Byte* src = f.srcBits + (f.height - 1 - row) * f.srcPitch;
        const int s = f.strip - 1 - t;
        if (t < 0 || f.blur > 0) {
            // The picture, or a strip row that the blur works on first.
            copyRun<SB, DB, true>(src, line, f.width);
        } else if constexpr (SB != DB) {
            // 24-bit picture, transparency mode: the row's alpha is one value.
            const int alpha = 255 * f.opacity / 100;
            copyRun<SB, DB, true>(src, line, f.width,
                                  Byte(s < f.faded ? alpha * s / f.faded : alpha));
        } else {
            const Byte* from = src;
            if (opacity.active) {
                if (s >= f.faded) {
                    opacity.template apply<true>(src, line, f.width * DB);
                    zeroPadding<DB>(line, f);
                    continue;
                }
                opacity.apply(src, opaqueLine.data(), f.width * DB);
                from = opaqueLine.data();
            }
            if (s >= f.faded)
                copyRun<SB, DB, true>(from, line, f.width);
            else
                fadeBytes<DB, fade, false, true>(fader, from, line, f.width * DB,
                                                 strength<fade>(s, f.faded), 0, nullptr, nullptr);
        }
        zeroPadding<DB>(line, f);
    }
    if (f.blur > 0) {
#if defined(__SSE2__)
        _mm_sfence(); // the streamed rows are in place before the blur reads them
#endif
        blur.run();
        for (int t = 0; t < f.strip; ++t) {
            const int y = top ? f.strip - 1 - t : stripTop + t;
            Byte* line = f.outBits + std::ptrdiff_t(f.outHeight - 1 - y) * f.outPitch;
            const int s = f.strip - 1 - t;
            if (opacity.active)
                opacity.apply(line, line, f.width * DB);
            if (s < f.faded)
                fadeBytes<DB, fade, false>(fader, line, line, f.width * DB,
                                           strength<fade>(s, f.faded), 0, nullptr, nullptr);
        }
    }
}

// Left and right: every result row is the source row, its mirrored columns,
// the gap and zeros. The strip is given its opacity and faded in place right
// after the mirrored copy, while the row is in the first-level cache, each
// faded byte with the strength of its column.
template <int SB, int DB, Fade fade> void renderColumns(const Frame& f)
{
    Fader fader;
    fader.prepare<DB>(f.faded, f.colour, fade);
    const Opacity<DB, fade> opacity(f);
    const bool left = f.direction == Direction::Left;

    // Result columns where the picture, the gap, the strip, its faded part and
    // the zero columns begin. Left: result column x < R shows source column
    // R - 1 - x, the faded ones are x = 0 .. F - 1 with s = x. Right: result
    // column X + W + G + t shows source column W - 1 - t, faded
    // t = R - F .. R - 1 with s = R - 1 - t.
    const Layout across = layoutAcross(f, left, f.width);
    const int pictureLeft = across.picture;
    const int gapLeft = across.gap;
    const int stripLeft = across.strip;
    const int stripFirstSource = left ? f.strip - 1 : f.width - 1;
    const int fadedLeft = left ? 0 : stripLeft + f.strip - f.faded;
    const int zeroLeft = left ? f.strip + f.gap + f.width : 0;
    // Strength of the first faded result column and its step to the next.
    const int firstS = left ? 0 : f.faded - 1;
    const int kFirst = strength<fade>(firstS, f.faded);
    const int kStep = (left ? 1 : -1) * (fade == Fade::Colour ? -1 : 1);

    std::vector<std::uint16_t> kLanes;
    std::vector<std::uint16_t> mLanes;
    if (fader.vector) {
        kLanes.resize(std::size_t(f.faded) * DB);
        mLanes.resize(kLanes.size());
        for (int x = 0; x < f.faded; ++x) {
            const int k = kFirst + x * kStep;
            for (int b = 0; b < DB; ++b) {
                kLanes[std::size_t(x) * DB + b] = std::uint16_t(k);
                mLanes[std::size_t(x) * DB + b] = multiplier(k, f.faded);
            }
        }
    }
    const std::vector<Byte> gapRun = gapPixels<DB, fade>(f, f.gap);
    StripBlur blur;
    if (f.blur > 0) {
        StripView view;
        view.lines = f.strip;
        view.width = f.outHeight;
        view.channels = DB;
        // Strip line t is result column R - 1 - t (left) or stripLeft + t (right).
        view.first = f.outBits + std::ptrdiff_t(left ? f.strip - 1 : stripLeft) * DB;
        view.lineStep = left ? -DB : DB;
        view.pixelStep = f.outPitch;
        if (!blur.prepare(view, f.blur,
                          fade == Fade::Alpha ? BlurAlpha::Premultiplied : BlurAlpha::Untouched))
            throw std::bad_alloc();
    }
    // The strip's opacity and fade, in place.
    const auto finishStrip = [&](Byte* line) {
        if (opacity.active)
            opacity.apply(line + std::size_t(stripLeft) * DB, line + std::size_t(stripLeft) * DB,
                          f.strip * DB);
        if (f.faded > 0) {
            Byte* faded = line + std::size_t(fadedLeft) * DB;
            fadeBytes<DB, fade, true>(fader, faded, faded, f.faded * DB, kFirst, kStep,
                                      kLanes.data(), mLanes.data());
        }
    };

    for (int i = 0; i < f.outHeight; ++i) {
        const Byte* src = f.srcBits + i * f.srcPitch;
        Byte* line = f.outBits + i * f.outPitch;
        std::memset(line + std::size_t(zeroLeft) * DB, 0, std::size_t(f.extraLines) * DB);
        copyRun<SB, DB, true>(src, line + std::size_t(pictureLeft) * DB, f.width);
        if (f.gap > 0)
            std::memcpy(line + std::size_t(gapLeft) * DB, gapRun.data(), gapRun.size());
        if (f.strip > 0)
            copyRunReversed<SB, DB>(src + std::ptrdiff_t(stripFirstSource) * SB,
                                    line + std::size_t(stripLeft) * DB, f.strip);
        if (f.blur == 0)
            finishStrip(line);
        zeroPadding<DB>(line, f);
    }
    if (f.blur > 0) {
#if defined(__SSE2__)
        _mm_sfence(); // the streamed pixels are in place before the blur reads them
#endif
        blur.run();
        for (int i = 0; i < f.outHeight; ++i)
            finishStrip(f.outBits + i * f.outPitch);
    }
}

template <int SB, int DB, Fade fade> void render(const Frame& f)
{
    if (f.direction == Direction::Top || f.direction == Direction::Bottom)
        renderRows<SB, DB, fade>(f);
    else
        renderColumns<SB, DB, fade>(f);
}

} // namespace

void renderReflectionFrame(const ReflectionFrame& f, int sourceBytes, bool transparent)
{
    if (!transparent) {
        if (sourceBytes == 3)
            render<3, 3, Fade::Colour>(f);
        else
            render<4, 4, Fade::Colour>(f);
    } else {
        if (sourceBytes == 3)
            render<3, 4, Fade::Alpha>(f);
        else
            render<4, 4, Fade::Alpha>(f);
    }
#if defined(__SSE2__)
    _mm_sfence(); // streaming stores are done before anyone reads the result
#endif
}
