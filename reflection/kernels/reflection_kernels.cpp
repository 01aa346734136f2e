// SPDX-License-Identifier: GPL-3.0-or-later
#include "reflection/kernels/reflection_kernels.h"

#include "reflection/blur/strip_blur.h"
#include "reflection/kernels/column_skew.h"
#include "reflection/kernels/reflection_pixels.h"
#include "reflection/kernels/strip_skew.h"
#include "reflection/kernels/strip_skew_hwy.h"

#include <FreeImage.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <type_traits>
#include <vector>

// Every line of the result is written once, straight from the source: rows for
// top and bottom, mirrored runs of columns for left and right, 24-bit pixels
// widened on the way in transparency mode, the opacity and the fade applied
// on the way. Nothing is turned, cloned or converted first; FreeImage's
// bottom-up scan lines are handled by index arithmetic. A blur needs the
// whole mirror first: then StripBlur writes the blurred strip from the picture
// and gives it its opacity and fade, on threads of its own, while the rest is
// written. A skew moves each strip line along the edge after the blur and
// before the opacity and the fade (strip_skew.h): top and bottom skew a row
// as it is written; left and right, whose lines run across the rows, skew
// the strip from the bottom row up through a ring of rows (column_skew.h).

namespace {

using namespace reflection_pixels;

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

// Transparency mode blurs premultiplied; a 24-bit picture's alpha is 255
// everywhere, where premultiplying changes nothing.
template <int SB, Fade fade> BlurAlpha blurAlpha()
{
    return fade == Fade::Alpha && SB == 4 ? BlurAlpha::Premultiplied : BlurAlpha::Untouched;
}

// Top and bottom: every result row is a zero row, a picture row, a gap row or
// a strip row, given its opacity and faded with one strength along the row.
template <int SB, int DB, Fade fade> void renderRows(const Frame& f)
{
    const Fader fader(f.faded, f.colour, fade, DB);
    const Opacity<DB, fade> opacity(f);
    const bool top = f.direction == Direction::Top;
    const Layout across = layoutAcross(f, top, f.height);
    const int pictureTop = across.picture;
    const int gapTop = across.gap;
    const int stripTop = across.strip;
    // Allocated before the first byte is written, so that running out of
    // memory leaves a reused result as it was.
    std::vector<Byte> gapLine = gapPixels<DB, fade>(f, f.outWidth);
    gapLine.resize(std::size_t(f.outPitch), 0);
    std::vector<Byte> opaqueLine(opacity.active ? std::size_t(f.width) * DB : 0);
    // A skewed line is read from the picture's row, or from this copy of it
    // (widened to 32 bits, or blurred), and skewed into a line that stays in
    // the cache for its opacity and fade on the way into the result.
    const int along = std::abs(f.skew);
    const int base = f.skew < 0 ? along : 0; // where the picture starts along the edge
    std::vector<Byte> unskewed(f.skew != 0 ? std::size_t(f.width) * DB : 0);
    std::vector<Byte> skewed(f.skew != 0 ? std::size_t(f.outWidth) * DB : 0);
    // Strip line t is result row stripTop + t (bottom) or R - 1 - t (top),
    // and the mirror of picture row H - 1 - t (bottom) or t (top).
    const auto stripLine = [&](int t) {
        const int y = top ? f.strip - 1 - t : stripTop + t;
        return f.outBits + std::ptrdiff_t(f.outHeight - 1 - y) * f.outPitch;
    };
    StripBlur blur;
    if (f.blur > 0) {
        StripView view;
        view.lines = f.strip;
        view.width = f.width;
        view.channels = DB;
        view.pixelStep = DB;
        view.first = stripLine(0);
        view.lineStep = top ? f.outPitch : -f.outPitch;
        StripView mirror = view;
        mirror.channels = SB;
        mirror.pixelStep = SB;
        mirror.first = const_cast<Byte*>(f.srcBits) + (top ? f.height - 1 : 0) * f.srcPitch;
        mirror.lineStep = top ? -f.srcPitch : f.srcPitch;
        if (!blur.prepare(mirror, view, f.blur, blurAlpha<SB, fade>()))
            throw std::bad_alloc();
        // The blur writes the strip's rows from the picture, then gives
        // pieces of them their opacity and fade, while the other rows are
        // written here. Its threads run this after the block ends: what it
        // needs of the block is held by value.
        const auto finishPieces = [&, lineBytes = f.width * DB](int from, int to, int fromByte,
                                                                int toByte) {
            for (int t = from; t < to; ++t) {
                Byte* line = stripLine(t);
                Byte* piece = line + fromByte;
                finishLine(fader, opacity, piece, piece, toByte - fromByte, f.strip - 1 - t, piece);
                if (toByte == lineBytes)
                    zeroPadding<DB>(line, f);
            }
        };
        if (f.skew == 0)
            blur.thenByPiece(finishPieces);
        blur.start();
    }
    // A skewed strip line takes its opacity and fade after the skew, all its
    // pixels at once.
    const auto skewInto = [&](const Byte* mirror, Byte* line, int t) {
        strip_skew::skewLine(mirror, f.width, skewed.data(), f.outWidth,
                             strip_skew::shiftOf(t, f.strip, f.skew), DB, gapLine.data(),
                             fade == Fade::Alpha, SB == 3);
        finishLine<DB, fade, true>(fader, opacity, skewed.data(), line, f.outWidth * DB,
                                   f.strip - 1 - t, skewed.data());
        zeroPadding<DB>(line, f);
    };

    // At the same depth and pitch (a view into a larger picture has that
    // picture's pitch) the picture's rows are one block of scan lines in both
    // bitmaps: one copy, which the C library makes with stores that bypass the
    // cache. Only the padding needs fixing after it.
    const int pictureScan = f.outHeight - pictureTop - f.height; // its bottom row
    const bool blockCopy = SB == DB && f.srcPitch == f.outPitch && f.skew == 0;
    if (blockCopy) {
        Byte* block = f.outBits + pictureScan * f.outPitch;
        if (block != f.srcBits) // a result laid around the picture holds it already
            std::memcpy(block, f.srcBits, std::size_t(f.outPitch) * std::size_t(f.height));
        if (f.outPitch > std::ptrdiff_t(f.width) * DB) {
            for (int i = 0; i < f.height; ++i)
                zeroPadding<DB>(block + i * f.outPitch, f);
        }
    }
    // Scan line i: i = 0 is the bottom row.
    const auto writeLine = [&](int i) {
        Byte* line = f.outBits + i * f.outPitch;
        const int y = f.outHeight - 1 - i; // counted from the top
        int row;                           // picture row, counted from the top
        int t = -1;                        // strip line, -1 for a picture row
        if (y >= pictureTop && y < pictureTop + f.height) {
            if (blockCopy)
                return;
            row = y - pictureTop;
        } else if (y >= stripTop && y < stripTop + f.strip) {
            if (f.blur > 0)
                return;
            t = top ? f.strip - 1 - y : y - stripTop;
            row = top ? t : f.height - 1 - t;
        } else if (y >= gapTop && y < gapTop + f.gap) {
            streamCopy(line, gapLine.data(), std::size_t(f.outPitch));
            return;
        } else {
            std::memset(line, 0, std::size_t(f.outPitch));
            return;
        }
        const Byte* src = f.srcBits + (f.height - 1 - row) * f.srcPitch;
        const int s = f.strip - 1 - t;
        if (t < 0) {
            copyRun<SB, DB, true>(src, line + std::size_t(base) * DB, f.width);
            if (along > 0) { // background beside the picture
                std::memcpy(line, gapLine.data(), std::size_t(base) * DB);
                std::memcpy(line + std::size_t(base + f.width) * DB, gapLine.data(),
                            std::size_t(along - base) * DB);
            }
        } else if (f.skew != 0) {
            if constexpr (SB != DB) {
                copyRun<SB, DB>(src, unskewed.data(), f.width);
                skewInto(unskewed.data(), line, t);
            } else {
                skewInto(src, line, t);
            }
            return;
        } else if constexpr (SB != DB) {
            // 24-bit picture, transparency mode: the row's alpha is one value.
            const int alpha = 255 * f.opacity / 100;
            copyRun<SB, DB, true>(src, line, f.width,
                                  Byte(s < f.faded ? alpha * s / f.faded : alpha));
        } else {
            finishLine<DB, fade, true>(fader, opacity, src, line, f.width * DB, s,
                                       opaqueLine.data());
        }
        zeroPadding<DB>(line, f);
    };
    // An unblurred skew reads each mirrored picture row once for both of the
    // result lines it makes: when the first of them comes, the picture's line
    // is written (its copy reads the row from memory in order), then the
    // strip's, which finds the row in the cache.
    const bool together = f.skew != 0 && f.blur == 0;
    const auto partnerOf = [&](int i) { // the picture's line of a strip line, or the reverse
        const int y = f.outHeight - 1 - i;
        int partner = -1; // counted from the top
        if (y >= pictureTop && y < pictureTop + f.height) {
            const int row = y - pictureTop;
            const int t = top ? row : f.height - 1 - row;
            if (t < f.strip)
                partner = top ? f.strip - 1 - t : stripTop + t;
        } else if (y >= stripTop && y < stripTop + f.strip) {
            const int t = top ? f.strip - 1 - y : y - stripTop;
            partner = pictureTop + (top ? t : f.height - 1 - t);
        }
        return partner < 0 ? -1 : f.outHeight - 1 - partner;
    };
    for (int i = 0; i < f.outHeight; ++i) {
        const int partner = together ? partnerOf(i) : -1;
        if (partner < 0) {
            writeLine(i);
        } else if (partner > i) {
            const int y = f.outHeight - 1 - i;
            const bool picture = y >= pictureTop && y < pictureTop + f.height;
            writeLine(picture ? i : partner);
            writeLine(picture ? partner : i);
        }
    }
    blur.finish();
    for (int t = 0; f.blur > 0 && f.skew != 0 && t < f.strip; ++t) {
        Byte* line = stripLine(t);
        std::memcpy(unskewed.data(), line, unskewed.size());
        skewInto(unskewed.data(), line, t);
    }
}

// Left and right: every result row is the source row, its mirrored columns,
// the gap and zeros. The strip is given its opacity and faded in place right
// after the mirrored copy, while the row is in the first-level cache, each
// faded byte with the strength of its column.
template <int SB, int DB, Fade fade> void renderColumns(const Frame& f)
{
    const Fader fader(f.faded, f.colour, fade, DB);
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
    if (f.faded > 0 && f.faded <= longestVectorFade) {
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
    // With a skew the result is |S| rows taller: the picture sits `base` rows
    // down, with background above or below it; a blurred strip is laid in the
    // top H rows for the skew to read.
    const int along = std::abs(f.skew);
    const int base = f.skew < 0 ? along : 0;
    const std::vector<Byte> background = gapPixels<DB, fade>(f, along > 0 ? f.width : 0);
    std::optional<ColumnSkew<SB, DB>> skew;
    if (f.skew != 0)
        skew.emplace(f, left, stripLeft, stripFirstSource, gapPixels<DB, fade>(f, 1).data());
    StripBlur blur;
    if (f.blur > 0) {
        StripView view;
        view.lines = f.strip;
        view.width = f.height;
        view.channels = DB;
        // Strip line t is result column R - 1 - t (left) or stripLeft + t (right).
        view.first = f.outBits + std::ptrdiff_t(along) * f.outPitch +
                     std::ptrdiff_t(left ? f.strip - 1 : stripLeft) * DB;
        view.lineStep = left ? -DB : DB;
        view.pixelStep = f.outPitch;
        // ... and the mirror of source column t (left) or W - 1 - t (right).
        StripView mirror = view;
        mirror.channels = SB;
        mirror.first = const_cast<Byte*>(f.srcBits) + (left ? 0 : (f.width - 1) * SB);
        mirror.lineStep = left ? SB : -SB;
        mirror.pixelStep = f.srcPitch;
        if (!blur.prepare(mirror, view, f.blur, blurAlpha<SB, fade>()))
            throw std::bad_alloc();
    }
    // The strip's opacity and fade on its columns from..to-1, at `part`, into
    // the result at `out` (past the cache with `stream`), or in place when
    // `out` is `part`. The faded part takes the opacity in its fade's step,
    // the rest alone.
    const auto finishStripPart = [&](auto stream, Byte* part, int from, int to, Byte* out) {
        constexpr bool streamed = decltype(stream)::value;
        const bool fused = f.faded > 0 && opacity.beforeFade() >= 0;
        if (opacity.active) {
            const int first = std::max(from, fused ? (left ? f.faded : 0) : 0);
            const int end = std::min(to, fused ? (left ? f.strip : f.strip - f.faded) : f.strip);
            if (end > first)
                opacity.apply(part + std::size_t(first - from) * DB,
                              part + std::size_t(first - from) * DB, (end - first) * DB);
        }
        const int fadedFirst = fadedLeft - stripLeft;
        const int first = std::clamp(fadedFirst, from, to);
        const int end = std::clamp(fadedFirst + f.faded, first, to);
        const auto copy = [&](int a, int b) {
            if (out != part)
                streamCopy(out + std::size_t(a - from) * DB, part + std::size_t(a - from) * DB,
                           std::size_t(b - a) * DB);
        };
        copy(from, first);
        if (end > first) {
            const int x = first - fadedFirst; // the first faded column's index in the fade
            const std::size_t at = std::size_t(first - from) * DB;
            fadeBytes<DB, fade, true, streamed>(
                fader, part + at, out + at, (end - first) * DB, kFirst + x * kStep, kStep,
                kLanes.data() + std::size_t(x) * DB, mLanes.data() + std::size_t(x) * DB,
                fused ? opacity.beforeFade() : -1);
        }
        copy(end, to);
    };
    const auto finishStrip = [&](Byte* line) {
        Byte* strip = line + std::size_t(stripLeft) * DB;
        finishStripPart(std::false_type(), strip, 0, f.strip, strip);
    };

    // With a blur, the blur writes the strip from the picture, then gives it
    // its opacity and fade, while the rest of each row is written here.
    if (f.blur > 0) {
        if (f.skew == 0)
            blur.then(f.outHeight, [&](int from, int to) {
                for (int i = from; i < to; ++i)
                    finishStrip(f.outBits + i * f.outPitch);
            });
        blur.start();
    }
    // A result row but for a skewed strip.
    const auto writeRow = [&](int i) {
        Byte* line = f.outBits + i * f.outPitch;
        std::memset(line + std::size_t(zeroLeft) * DB, 0, std::size_t(f.extraLines) * DB);
        // The picture's source row, as a scan line.
        const int pictureLine = i + base - along;
        if (pictureLine >= 0 && pictureLine < f.height)
            copyRun<SB, DB, true>(f.srcBits + pictureLine * f.srcPitch,
                                  line + std::size_t(pictureLeft) * DB, f.width);
        else
            std::memcpy(line + std::size_t(pictureLeft) * DB, background.data(), background.size());
        if (f.gap > 0)
            std::memcpy(line + std::size_t(gapLeft) * DB, gapRun.data(), gapRun.size());
        if (f.strip > 0 && f.blur == 0 && f.skew == 0) {
            const Byte* src = f.srcBits + i * f.srcPitch;
            strip_skew::mirrorRunVector(src + std::ptrdiff_t(stripFirstSource) * SB,
                                        line + std::size_t(stripLeft) * DB, f.strip, SB, DB);
            finishStrip(line);
        }
        zeroPadding<DB>(line, f);
    };
    for (int i = 0; i < f.outHeight; ++i) {
        const int pictureLine = i + base - along;
        if (!skew || !skew->together() || pictureLine < 0 || pictureLine >= f.height)
            writeRow(i);
    }
    blur.finish();
    if (skew)
        skew->sweep(fade == Fade::Alpha, writeRow, [&](Byte* part, int from, int to, Byte* out) {
            finishStripPart(std::true_type(), part, from, to, out);
        });
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
    fade_kernel::streamsDone(); // before anyone reads the result
}
