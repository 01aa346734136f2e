#include "strip_blur.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

// Every box pass is a running sum: prefix sums of the values (plus the edge
// repeated), so a pass costs the same at any radius. The prefix sums are
// 32-bit and may wrap; a window's sum, a difference of two of them, is exact
// while it is below 2^32. The inner loops run over independent bytes and are
// written for the compiler's vectoriser (this file is built with -O3).

namespace {

using Byte = std::uint8_t;
using Sum = std::uint32_t;

// round(x / d) for the pass's numerator x = 256 * inner + a * tails + d / 2
// with d = 2 * h256 + 256: both below 2^24, so exact in float, and the one
// possible error of the reciprocal is corrected with an exact remainder.
struct Divider {
    float d;
    float inverse;
    explicit Divider(int h256) : d(float(2 * h256 + 256)), inverse(1.0f / d) {}
    Byte operator()(int numerator) const
    {
        const float x = float(numerator);
        int q = int(x * inverse);
        const float remainder = x - float(q) * d;
        q += remainder >= d ? 1 : 0;
        q -= remainder < 0 ? 1 : 0;
        return Byte(q);
    }
};

// prefix[k * C + c] = the sum of channel c over the first k positions, the
// running sums kept in registers: through memory each would wait for the store
// of the one before.
template <int C> void prefixSums(const Byte* values, Sum* prefix, int positions)
{
    Sum sum[C] = {};
    for (int c = 0; c < C; ++c)
        prefix[c] = 0;
    for (int k = 0; k < positions; ++k, values += C, prefix += C) {
        for (int c = 0; c < C; ++c) {
            sum[c] += values[c];
            prefix[C + c] = sum[c];
        }
    }
}

// One pass along a line of `count` positions, `lanes` bytes each, with one
// half-width for the whole line. `extended` is the line with `pad` positions
// of its edge values repeated on both sides; `prefix` has room for its sums.
void passAlong(const Byte* extended, Sum* prefix, Byte* out, int count, int lanes, int pad,
               int h256)
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
        const int inner = int(high[j] - low[j]);
        out[j] = divide(256 * inner + a * (before[j] + after[j]) + half);
    }
}

// One pass across the lines of a band: `in` and `out` hold `lines` rows of
// `lanes` bytes, line t with half-width h256[t].
void passAcross(const Byte* in, Byte* out, Sum* prefix, int lines, int lanes, int pad,
                const int* h256)
{
    const auto row = [&](int t) {
        return in + std::ptrdiff_t(std::clamp(t, 0, lines - 1)) * lanes;
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
        Byte* target = out + std::ptrdiff_t(t) * lanes;
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
            const int inner = int(high[j] - low[j]);
            target[j] = divide(256 * inner + a * (before[j] + after[j]) + half);
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

void unpremultiply(Byte* line, int width)
{
    for (int u = 0; u < width; ++u, line += 4) {
        const int alpha = line[3];
        if (alpha == 255)
            continue;
        for (int c = 0; c < 3; ++c)
            line[c] = alpha == 0 ? 0 : Byte(std::min(255, (line[c] * 255 + alpha / 2) / alpha));
    }
}

// Lanes per band of the passes across lines: the band's prefix sums stay in
// the second-level cache for strips of a few thousand lines.
constexpr int bandLanes = 96;

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
        extended_.resize(std::size_t(width + 2 * pad_) * std::size_t(c));
        const std::size_t along = std::size_t(lanes) + std::size_t(2 * pad_ + 1) * std::size_t(c);
        const std::size_t across = std::size_t(bandLanes) * std::size_t(lines + 2 * pad_ + 1);
        prefix_.resize(std::max(along, across));
        bandA_.resize(std::size_t(lines) * bandLanes);
        bandB_.resize(bandA_.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    active_ = true;
    return true;
}

void StripBlur::run()
{
    if (!active_)
        return;
    const int lines = strip_.lines;
    const int width = strip_.width;
    const int c = strip_.channels;
    const int lanes = width * c;
    const int pad = pad_;
    const bool inPlace = copy_.empty();
    const bool keepAlpha = c == 4 && alpha_ == BlurAlpha::Untouched;
    const auto line = [&](int t) { return line_[std::size_t(t)]; };

    if (!inPlace) {
        for (int t = 0; t < lines; ++t) {
            const Byte* from = strip_.first + t * strip_.lineStep;
            Byte* to = line(t);
            for (int u = 0; u < width; ++u, from += strip_.pixelStep, to += c)
                std::memcpy(to, from, std::size_t(c));
        }
    }
    // The line touching the picture is not blurred; premultiplying would
    // still lose the colour of its transparent pixels.
    std::memcpy(firstLine_.data(), line(0), std::size_t(lanes));
    for (int t = 0; t < lines; ++t) {
        Byte* pixels = line(t);
        if (keepAlpha) {
            Byte* kept = keptAlpha_.data() + std::size_t(t) * std::size_t(width);
            for (int u = 0; u < width; ++u)
                kept[u] = pixels[u * 4 + 3];
        } else if (c == 4) {
            premultiply(pixels, width);
        }
    }

    // Three passes along every line...
    for (int t = 1; t < lines; ++t) {
        const int h = h256_[std::size_t(t)];
        if (h == 0)
            continue;
        Byte* pixels = line(t);
        Byte* extended = extended_.data();
        for (int pass = 0; pass < 3; ++pass) {
            std::memcpy(extended + pad * c, pixels, std::size_t(lanes));
            for (int k = 0; k < pad; ++k) {
                std::memcpy(extended + k * c, pixels, std::size_t(c));
                std::memcpy(extended + (pad + width + k) * c, pixels + lanes - c, std::size_t(c));
            }
            passAlong(extended, prefix_.data(), pixels, width, c, pad, h);
        }
    }
    // ...then three across them, a band of columns at a time.
    for (int first = 0; first < lanes; first += bandLanes) {
        const int band = std::min(bandLanes, lanes - first);
        Byte* a = bandA_.data();
        Byte* b = bandB_.data();
        for (int t = 0; t < lines; ++t)
            std::memcpy(a + std::size_t(t) * band, line(t) + first, std::size_t(band));
        passAcross(a, b, prefix_.data(), lines, band, pad, h256_.data());
        passAcross(b, a, prefix_.data(), lines, band, pad, h256_.data());
        passAcross(a, b, prefix_.data(), lines, band, pad, h256_.data());
        for (int t = 0; t < lines; ++t)
            std::memcpy(line(t) + first, b + std::size_t(t) * band, std::size_t(band));
    }

    for (int t = 0; t < lines; ++t) {
        Byte* pixels = line(t);
        if (keepAlpha) {
            const Byte* kept = keptAlpha_.data() + std::size_t(t) * std::size_t(width);
            for (int u = 0; u < width; ++u)
                pixels[u * 4 + 3] = kept[u];
        } else if (c == 4) {
            unpremultiply(pixels, width);
        }
    }
    std::memcpy(line(0), firstLine_.data(), std::size_t(lanes));
    if (!inPlace) {
        for (int t = 0; t < lines; ++t) {
            Byte* to = strip_.first + t * strip_.lineStep;
            const Byte* from = line(t);
            for (int u = 0; u < width; ++u, to += strip_.pixelStep, from += c)
                std::memcpy(to, from, std::size_t(c));
        }
    }
}
