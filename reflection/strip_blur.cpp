#include "strip_blur.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Every box pass is a running sum: prefix sums of the values (plus the edge
// repeated), so a pass costs the same at any radius. The prefix sums are
// 16-bit and wrap; a window's sum, a difference of two of them, is exact
// while it is below 2^16: at most 2 * 99 + 1 values of 255 at the largest
// blur. 16 bits keep a line's sums in the first-level cache and twice as many
// in a vector. The inner loops run over independent bytes and are written for
// the compiler's vectoriser (this file is built with -O3).

// The passes are built twice where the compiler can: for processors with
// AVX2 (twice the lanes) and for all others, chosen when the program starts.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define BLUR_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define BLUR_KERNEL
#endif

namespace {

using Byte = std::uint8_t;
using Sum = std::uint16_t;

// x / d for the pass's numerator x = 256 * inner + a * tails + d / 2 with
// d = 2 * h256 + 256, through the float reciprocal of d: one multiplication,
// truncated. x is below 2^24, so float(x) is exact and the result is the same
// on every machine; it is round(x / d) or, rarely, one less.
struct Divider {
    float inverse;
    explicit Divider(int h256) : inverse(1.0f / float(2 * h256 + 256)) {}
    Byte operator()(int numerator) const { return Byte(int(float(numerator) * inverse)); }
};

// prefix[k * C + c] = the sum of channel c over the first k positions, the
// running sums kept in registers: through memory each would wait for the store
// of the one before. With SSE2 one position's channels are added at once, four
// 16-bit lanes read and written whole: with three channels the fourth lane
// reads the next position's first byte (or the byte after `values`) and is
// written where the next position's first sum goes (or one past `prefix`'s
// sums), so both buffers have one spare element.
template <int C> void prefixSums(const Byte* values, Sum* prefix, int positions)
{
    for (int c = 0; c < C; ++c)
        prefix[c] = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    __m128i sum = zero;
    for (int k = 0; k < positions; ++k, values += C, prefix += C) {
        std::uint32_t four;
        std::memcpy(&four, values, sizeof four);
        sum = _mm_add_epi16(sum, _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(four)), zero));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(prefix + C), sum);
    }
#else
    Sum sum[C] = {};
    for (int k = 0; k < positions; ++k, values += C, prefix += C) {
        for (int c = 0; c < C; ++c) {
            sum[c] += values[c];
            prefix[C + c] = sum[c];
        }
    }
#endif
}

// One pass along a line of `count` positions, `lanes` bytes each, with one
// half-width for the whole line. `extended` is the line with `pad` positions
// of its edge values repeated on both sides; `prefix` has room for its sums.
BLUR_KERNEL void passAlong(const Byte* extended, Sum* prefix, Byte* out, int count, int lanes,
                           int pad, int h256)
{
    const int positions = count + 2 * pad;
    if (lanes == 3)
        prefixSums<3>(extended, prefix, positions);
    else
        prefixSums<4>(extended, prefix, positions);
    const int n = h256 >> 8;
    const int a = h256 & 255;
    const Divider divide(h256);
    const int half = h256 + 128;
    const Sum* high = prefix + (pad + n + 1) * lanes;
    const Sum* low = prefix + (pad - n) * lanes;
    const Byte* before = extended + (pad - n - 1) * lanes;
    const Byte* after = extended + (pad + n + 1) * lanes;
    const int values = count * lanes;
    for (int j = 0; j < values; ++j) {
        const int inner = Sum(high[j] - low[j]);
        out[j] = divide(256 * inner + a * (before[j] + after[j]) + half);
    }
}

// One pass across the lines of a band of `lanes` bytes: line t of the band
// starts at in + t * inStep, and its result at out + t * outStep; line t has
// the half-width h256[t].
BLUR_KERNEL void passAcross(const Byte* in, std::ptrdiff_t inStep, Byte* out,
                            std::ptrdiff_t outStep, Sum* prefix, int lines, int lanes, int pad,
                            const int* h256)
{
    const auto row = [&](int t) {
        return in + std::ptrdiff_t(std::clamp(t, 0, lines - 1)) * inStep;
    };
    for (int j = 0; j < lanes; ++j)
        prefix[j] = 0;
    for (int k = 0; k < lines + 2 * pad; ++k) {
        const Byte* values = row(k - pad);
        const Sum* previous = prefix + std::ptrdiff_t(k) * lanes;
        Sum* next = prefix + std::ptrdiff_t(k + 1) * lanes;
        for (int j = 0; j < lanes; ++j)
            next[j] = previous[j] + values[j];
    }
    for (int t = 0; t < lines; ++t) {
        Byte* target = out + std::ptrdiff_t(t) * outStep;
        if (h256[t] == 0) {
            std::memcpy(target, row(t), std::size_t(lanes));
            continue;
        }
        const int n = h256[t] >> 8;
        const int a = h256[t] & 255;
        const Divider divide(h256[t]);
        const int half = h256[t] + 128;
        const Sum* high = prefix + std::ptrdiff_t(t + pad + n + 1) * lanes;
        const Sum* low = prefix + std::ptrdiff_t(t + pad - n) * lanes;
        const Byte* before = row(t - n - 1);
        const Byte* after = row(t + n + 1);
        for (int j = 0; j < lanes; ++j) {
            const int inner = Sum(high[j] - low[j]);
            target[j] = divide(256 * inner + a * (before[j] + after[j]) + half);
        }
    }
}

// Lines of a strip of columns, copied between the result and `lines` (into
// the lines when `in`) a tile of `tile` lines at a time: each result row then
// gives a run of neighbouring pixels, not one pixel per row and per line.
template <int C>
void copyTiles(const StripView& strip, Byte* const* lines, int from, int to, bool in)
{
    constexpr int tile = 16;
    for (int t0 = from; t0 < to; t0 += tile) {
        const int count = std::min(tile, to - t0);
        for (int u = 0; u < strip.width; ++u) {
            Byte* pixel = strip.first + u * strip.pixelStep + t0 * strip.lineStep;
            for (int k = 0; k < count; ++k, pixel += strip.lineStep) {
                Byte* own = lines[t0 + k] + u * C;
                if (in)
                    std::memcpy(own, pixel, C);
                else
                    std::memcpy(pixel, own, C);
            }
        }
    }
}

void premultiply(Byte* line, int width)
{
    for (int u = 0; u < width; ++u, line += 4) {
        const int alpha = line[3];
        if (alpha == 255)
            continue;
        for (int c = 0; c < 3; ++c)
            line[c] = Byte((line[c] * alpha + 127) / 255);
    }
}

// (x * reciprocal[alpha]) >> 24 is x / alpha for every x below 2^16: the
// reciprocal overshoots by less than 2^-24, which moves no quotient.
struct Reciprocals {
    std::uint32_t of[256];
    Reciprocals()
    {
        of[0] = 0;
        for (int alpha = 1; alpha < 256; ++alpha)
            of[alpha] = std::uint32_t(((std::uint64_t(1) << 24) + alpha - 1) / alpha);
    }
};

void unpremultiply(Byte* line, int width)
{
    static const Reciprocals reciprocals;
    for (int u = 0; u < width; ++u, line += 4) {
        const int alpha = line[3];
        if (alpha == 255)
            continue;
        const std::uint32_t reciprocal = reciprocals.of[alpha];
        for (int c = 0; c < 3; ++c) {
            const std::uint32_t x = std::uint32_t(line[c] * 255 + alpha / 2);
            line[c] = Byte(
                std::min<std::uint32_t>(255, std::uint32_t((std::uint64_t(x) * reciprocal) >> 24)));
        }
    }
}

// Lanes per band of the passes across lines: the band's prefix sums stay in
// the second-level cache for strips of a few thousand lines.
constexpr int bandLanes = 128;

} // namespace

int blurHalfWidth256(int t, int lines, int blur)
{
    if (lines < 2 || t <= 0 || blur <= 0)
        return 0;
    const double radius = double(blur) * t / (lines - 1);
    return int(std::lround(256.0 * (std::sqrt(1.0 + radius * radius) - 1.0) / 2.0));
}

bool StripBlur::prepare(const StripView& strip, int blur, BlurAlpha alpha)
{
    strip_ = strip;
    alpha_ = alpha;
    active_ = false;
    const int lines = strip.lines;
    const int width = strip.width;
    const int c = strip.channels;
    const int lanes = width * c;
    if (lines < 2 || width < 1 || blur <= 0)
        return true;
    blur = std::min(blur, largestStripBlur);
    try {
        h256_.assign(std::size_t(lines), 0);
        for (int t = 0; t < lines; ++t)
            h256_[std::size_t(t)] = blurHalfWidth256(t, lines, blur);
        pad_ = (h256_.back() >> 8) + 1;

        // Lines whose pixels lie side by side are worked on where they are;
        // a strip of columns (left, right) is copied into lines and back.
        const bool inPlace = strip.pixelStep == c;
        line_.resize(std::size_t(lines));
        if (inPlace) {
            copy_.clear();
            for (int t = 0; t < lines; ++t)
                line_[std::size_t(t)] = strip.first + t * strip.lineStep;
        } else {
            copy_.resize(std::size_t(lines) * std::size_t(lanes));
            for (int t = 0; t < lines; ++t)
                line_[std::size_t(t)] = copy_.data() + std::size_t(t) * std::size_t(lanes);
        }
        if (c == 4 && alpha == BlurAlpha::Untouched)
            keptAlpha_.resize(std::size_t(lines) * std::size_t(width));
        firstLine_.resize(std::size_t(lanes));

        // A small strip is not worth a thread's start.
        const std::size_t values = std::size_t(lines) * std::size_t(lanes);
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        const int threads = values < (std::size_t(1) << 15) ? 1 : int(std::min(cores, 8u));
        scratch_.resize(std::size_t(threads));
        for (Scratch& scratch : scratch_) {
            // One spare element each for prefixSums.
            scratch.extended.resize(std::size_t(width + 2 * pad_) * std::size_t(c) + 1);
            const std::size_t along =
                std::size_t(lanes) + std::size_t(2 * pad_ + 1) * std::size_t(c) + 1;
            const std::size_t across = std::size_t(bandLanes) * std::size_t(lines + 2 * pad_ + 1);
            scratch.prefix.resize(std::max(along, across));
            scratch.bandA.resize(std::size_t(lines) * bandLanes);
            scratch.bandB.resize(scratch.bandA.size());
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    active_ = true;
    return true;
}

// Lines from..to-1: brought into place, premultiplied (or their alpha kept
// aside), then blurred along.
void StripBlur::prepareLines(int from, int to, Scratch& scratch)
{
    const int width = strip_.width;
    const int c = strip_.channels;
    const int lanes = width * c;
    const int pad = pad_;
    const bool keepAlpha = c == 4 && alpha_ == BlurAlpha::Untouched;
    if (!copy_.empty())
        copyColumns(from, to, true);
    for (int t = from; t < to; ++t) {
        Byte* pixels = line_[std::size_t(t)];
        // The line touching the picture is not blurred; premultiplying would
        // still lose the colour of its transparent pixels.
        if (t == 0)
            std::memcpy(firstLine_.data(), pixels, std::size_t(lanes));
        if (keepAlpha) {
            Byte* kept = keptAlpha_.data() + std::size_t(t) * std::size_t(width);
            for (int u = 0; u < width; ++u)
                kept[u] = pixels[u * 4 + 3];
        } else if (c == 4) {
            premultiply(pixels, width);
        }
        const int h = h256_[std::size_t(t)];
        if (h == 0)
            continue;
        Byte* extended = scratch.extended.data();
        for (int pass = 0; pass < 3; ++pass) {
            std::memcpy(extended + pad * c, pixels, std::size_t(lanes));
            for (int k = 0; k < pad; ++k) {
                std::memcpy(extended + k * c, pixels, std::size_t(c));
                std::memcpy(extended + (pad + width + k) * c, pixels + lanes - c, std::size_t(c));
            }
            passAlong(extended, scratch.prefix.data(), pixels, width, c, pad, h);
        }
    }
}

// Bands of columns, from byte lane `from` to `to`, blurred across the lines.
void StripBlur::blurBands(int from, int to, Scratch& scratch)
{
    const int lines = strip_.lines;
    // The first pass reads the strip's lines and the last writes them: no
    // copies of the band.
    Byte* const strip = line_[0];
    const std::ptrdiff_t step = lines > 1 ? line_[1] - line_[0] : 0;
    for (int first = from; first < to; first += bandLanes) {
        const int band = std::min(bandLanes, to - first);
        Byte* a = scratch.bandA.data();
        Byte* b = scratch.bandB.data();
        Sum* prefix = scratch.prefix.data();
        passAcross(strip + first, step, a, band, prefix, lines, band, pad_, h256_.data());
        passAcross(a, band, b, band, prefix, lines, band, pad_, h256_.data());
        passAcross(b, band, strip + first, step, prefix, lines, band, pad_, h256_.data());
    }
}

void StripBlur::copyColumns(int from, int to, bool in)
{
    if (strip_.channels == 3)
        copyTiles<3>(strip_, line_.data(), from, to, in);
    else
        copyTiles<4>(strip_, line_.data(), from, to, in);
}

// Lines from..to-1: alpha restored (or unpremultiplied), line 0 put back as
// it was, and a strip of columns copied back.
void StripBlur::finishLines(int from, int to)
{
    const int width = strip_.width;
    const int c = strip_.channels;
    const bool keepAlpha = c == 4 && alpha_ == BlurAlpha::Untouched;
    for (int t = from; t < to; ++t) {
        Byte* pixels = line_[std::size_t(t)];
        if (t == 0) {
            std::memcpy(pixels, firstLine_.data(), firstLine_.size());
        } else if (keepAlpha) {
            const Byte* kept = keptAlpha_.data() + std::size_t(t) * std::size_t(width);
            for (int u = 0; u < width; ++u)
                pixels[u * 4 + 3] = kept[u];
        } else if (c == 4) {
            unpremultiply(pixels, width);
        }
    }
    if (!copy_.empty())
        copyColumns(from, to, false);
}

void StripBlur::run()
{
    if (!active_)
        return;
    const int lines = strip_.lines;
    const int lanes = strip_.width * strip_.channels;
    const int threads = int(scratch_.size());

    // Each step shares its lines (or its bands, in whole bands) out between
    // the threads; a thread that cannot be started leaves its share to this one.
    const auto share = [&](int count, int unit, const auto& work) {
        const auto bound = [&](int index) {
            const long long units = (count + unit - 1) / unit;
            return int(std::min<long long>(count, units * index / threads * unit));
        };
        std::vector<std::thread> helpers;
        int started = 1;
        for (; started < threads; ++started) {
            try {
                helpers.emplace_back(work, bound(started), bound(started + 1),
                                     std::ref(scratch_[std::size_t(started)]));
            } catch (const std::system_error&) {
                break;
            }
        }
        work(bound(0), bound(1), scratch_[0]);
        for (int index = started; index < threads; ++index)
            work(bound(index), bound(index + 1), scratch_[0]);
        for (std::thread& helper : helpers)
            helper.join();
    };
    share(lines, 1,
          [this](int from, int to, Scratch& scratch) { prepareLines(from, to, scratch); });
    share(lanes, bandLanes,
          [this](int from, int to, Scratch& scratch) { blurBands(from, to, scratch); });
    share(lines, 1, [this](int from, int to, Scratch&) { finishLines(from, to); });
}
