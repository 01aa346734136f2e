// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The reflection computed the plain way, step by step with FreeImagePlus's own
// copy, flip, turn, crop and 32-bit conversion and a byte loop over bottom-up
// scan lines. Slow and obviously right: the fast renderer is checked against
// it byte for byte, and the benchmark measures it as the baseline.
//
// Header-only, so that both the tests and the benchmarks can use it.

#include "reflection/renderer/reflection_renderer.h"

#include <FreeImagePlus.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace oracle {

// Half-width of the box passes on strip row t of R rows, in 1/256 pixel: the
// blur radius grows linearly from 0 on row 0 to `blur` on row R - 1.
inline int blurHalfWidth256(int t, int R, int blur)
{
    if (R < 2 || t <= 0 || blur <= 0)
        return 0;
    const double radius = double(blur) * t / (R - 1);
    return int(std::lround(256.0 * (std::sqrt(1.0 + radius * radius) - 1.0) / 2.0));
}

// One box pass at position i of `values`, the edge values repeating beyond
// the ends: the 2n + 1 values around i at weight W, the next two at weight V,
// in 1/65536, rounded. W is twice (32768 * 256) / (2 * h256 + 256), V the rest
// of 65536 shared by the two.
inline int boxPass(const std::vector<int>& values, int i, int h256)
{
    const int last = int(values.size()) - 1;
    const auto at = [&](int j) { return values[std::size_t(std::clamp(j, 0, last))]; };
    const int n = h256 / 256;
    const long long innerWeight = 2 * ((32768 * 256) / (2 * h256 + 256));
    const long long tailWeight = (65536 - (2 * n + 1) * innerWeight) / 2;
    long long inner = 0;
    for (int j = i - n; j <= i + n; ++j)
        inner += at(j);
    const long long tails = at(i - n - 1) + at(i + n + 1);
    return int((inner * innerWeight + tails * tailWeight + 32768) >> 16);
}

// Blurs the strip (scan line s is row t = R - 1 - s): three passes along
// every row with the row's half-width, then three down every column, each
// value with the half-width of its own row. In transparency mode the pixels
// are premultiplied by their alpha for it; in colour mode alpha is left alone.
inline void BlurStrip(fipImage& strip, int blur, bool transparent)
{
    const int W = int(strip.getWidth()), R = int(strip.getHeight());
    if (blur <= 0 || R < 2)
        return;
    const int step = int(strip.getBitsPerPixel()) / 8;
    const int channels = transparent ? 4 : 3;
    const auto pixel = [&](int t, int u) {
        return strip.getScanLine(unsigned(R - 1 - t)) + u * step;
    };
    // Row 0, touching the picture, is not blurred and stays exactly as it is.
    const std::vector<BYTE> row0(pixel(0, 0), pixel(0, 0) + W * step);
    if (transparent) {
        for (int t = 0; t < R; ++t)
            for (int u = 0; u < W; ++u)
                for (int c = 0; c < 3; ++c)
                    pixel(t, u)[c] = BYTE((pixel(t, u)[c] * pixel(t, u)[3] + 127) / 255);
    }
    for (int c = 0; c < channels; ++c) {
        for (int t = 0; t < R; ++t) {
            std::vector<int> row(static_cast<std::size_t>(W)), next(row);
            for (int u = 0; u < W; ++u)
                row[std::size_t(u)] = pixel(t, u)[c];
            for (int pass = 0; pass < 3; ++pass) {
                for (int u = 0; u < W; ++u)
                    next[std::size_t(u)] = boxPass(row, u, blurHalfWidth256(t, R, blur));
                row = next;
            }
            for (int u = 0; u < W; ++u)
                pixel(t, u)[c] = BYTE(row[std::size_t(u)]);
        }
        for (int u = 0; u < W; ++u) {
            std::vector<int> column(static_cast<std::size_t>(R)), next(column);
            for (int t = 0; t < R; ++t)
                column[std::size_t(t)] = pixel(t, u)[c];
            for (int pass = 0; pass < 3; ++pass) {
                for (int t = 0; t < R; ++t)
                    next[std::size_t(t)] = boxPass(column, t, blurHalfWidth256(t, R, blur));
                column = next;
            }
            for (int t = 0; t < R; ++t)
                pixel(t, u)[c] = BYTE(column[std::size_t(t)]);
        }
    }
    if (transparent) {
        for (int t = 0; t < R; ++t)
            for (int u = 0; u < W; ++u) {
                BYTE* p = pixel(t, u);
                for (int c = 0; c < 3; ++c)
                    p[c] = p[3] == 0 ? 0 : BYTE(std::min(255, (p[c] * 255 + p[3] / 2) / p[3]));
            }
    }
    std::copy(row0.begin(), row0.end(), pixel(0, 0));
}

// The background beside the picture and in the gap: the colour, opaque, or
// all 0 in transparency mode.
inline RGBQUAD Background(_RGB bgcolor, bool transparent)
{
    if (transparent)
        return RGBQUAD{0, 0, 0, 0};
    return RGBQUAD{BYTE(bgcolor.blue), BYTE(bgcolor.green), BYTE(bgcolor.red), 255};
}

// The strip's rows moved along: row t by skew * t / (R - 1) pixels, in 1/256
// pixel rounded, each pixel the mix of its two neighbours; the strip becomes
// |skew| wider, the background filling in.
inline void SkewStrip(fipImage& strip, int skew, const RGBQUAD& background, bool transparent)
{
    const int W = int(strip.getWidth()), R = int(strip.getHeight());
    if (skew == 0 || R < 2)
        return;
    const int step = int(strip.getBitsPerPixel()) / 8;
    const int wide = W + std::abs(skew);
    fipImage skewed(FIT_BITMAP, unsigned(wide), unsigned(R), strip.getBitsPerPixel());
    const BYTE* fill = reinterpret_cast<const BYTE*>(&background);
    for (int t = 0; t < R; ++t) {
        const BYTE* row = strip.getScanLine(unsigned(R - 1 - t));
        BYTE* out = skewed.getScanLine(unsigned(R - 1 - t));
        const long d256 = std::lround(256.0 * skew * t / (R - 1));
        const long at = 256L * std::max(0, -skew) + d256; // the picture starts at max(0, -skew)
        const int whole = int(at / 256), f = int(at % 256);
        for (int x = 0; x < wide; ++x) {
            const auto pixel = [&](int u) { return u >= 0 && u < W ? row + u * step : fill; };
            const BYTE* a = pixel(x - whole);
            const BYTE* b = pixel(x - whole - 1);
            BYTE* p = out + x * step;
            if (transparent && f > 0 && a[3] != b[3]) {
                const int wa = a[3] * (256 - f), wb = b[3] * f, sum = wa + wb;
                // b's share of the colour, 256 * wb / sum rounded, halves to even
                const int g = int(std::nearbyint(256.0 * wb / sum));
                for (int c = 0; c < 3; ++c)
                    p[c] = BYTE((a[c] * (256 - g) + b[c] * g + 128) / 256);
                p[3] = BYTE((sum + 128) / 256);
            } else {
                for (int c = 0; c < step; ++c)
                    p[c] = BYTE((a[c] * (256 - f) + b[c] * f + 128) / 256);
            }
        }
    }
    strip = skewed;
}

// The strip of R rows, blurred, skewed, faded and laid over the background,
// into the bottom R scan lines of `output`.
inline void ReflectionStrip(const fipImage& srcImage, fipImage& output, _RGB bgcolor, int R,
                            int start, bool transparent, int opacity, int blur, int skew)
{
    const int bpp = int(srcImage.getBitsPerPixel());
    // The strip: the picture flipped, cut down to its top R rows, that is the
    // bottom R rows of the picture mirrored.
    fipImage strip(srcImage);
    strip.flipVertical();
    strip.crop(0, 0, int(srcImage.getWidth()), R);
    const int F = (100 - start) * int(strip.getHeight()) / 100;

    // Blurred first, then skewed, then the opacity, then the fade.
    BlurStrip(strip, blur, transparent);
    SkewStrip(strip, skew, Background(bgcolor, transparent), transparent);
    const int W = int(strip.getWidth());
    const int pitch = int(strip.getScanWidth());
    for (int s = 0; s < R; ++s) {
        BYTE* line = strip.accessPixels() + s * pitch;
        const int step = bpp / 8;
        for (int x = 0; x < W; ++x, line += step) {
            if (transparent) {
                line[3] = BYTE(line[3] * opacity / 100);
            } else {
                line[0] = BYTE(line[0] + ((100 - opacity) * (bgcolor.blue - line[0])) / 100);
                line[1] = BYTE(line[1] + ((100 - opacity) * (bgcolor.green - line[1])) / 100);
                line[2] = BYTE(line[2] + ((100 - opacity) * (bgcolor.red - line[2])) / 100);
            }
        }
    }

    // Scan line s of the strip, s = 0 being its outer edge row.
    for (int s = 0; s < F; ++s) {
        BYTE* line = strip.accessPixels() + s * pitch;
        if (transparent) {
            for (int x = 0; x < W; ++x, line += 4)
                line[3] = BYTE(line[3] * s / F);
        } else {
            const int step = bpp / 8;
            for (int x = 0; x < W; ++x, line += step) {
                line[0] = BYTE(line[0] + ((F - 1 - s) * (bgcolor.blue - line[0])) / F);
                line[1] = BYTE(line[1] + ((F - 1 - s) * (bgcolor.green - line[1])) / F);
                line[2] = BYTE(line[2] + ((F - 1 - s) * (bgcolor.red - line[2])) / F);
            }
        }
    }

    std::memcpy(output.accessPixels(), strip.accessPixels(), std::size_t(pitch) * R);
}

// The reflection below `srcImage` into `dstImage`. In transparency mode
// `srcImage` is first converted to 32 bits in place. Returns false, leaving
// `dstImage` as it was, for a picture that is not a 24- or 32-bit standard
// bitmap. A strip of 0 rows leaves the picture with its gap and `ge` rows.
inline bool BottomReflection(fipImage& srcImage, fipImage& dstImage, _RGB bgcolor, int rate,
                             int start, int ge, bool transparent, int opacity = 100, int gap = 0,
                             int blur = 0, int skew = 0)
{
    if (!srcImage.isValid() || srcImage.getImageType() != FIT_BITMAP)
        return false;
    if (transparent)
        srcImage.convertTo32Bits();
    const int W = int(srcImage.getWidth());
    const int H = int(srcImage.getHeight());
    const int bpp = int(srcImage.getBitsPerPixel());
    if (bpp != 24 && bpp != 32)
        return false;
    const int R = H * rate / 100;
    if (R < 2)
        skew = 0;
    const int wide = W + std::abs(skew);
    fipImage output(FIT_BITMAP, unsigned(wide), unsigned(H + gap + R + ge), unsigned(bpp));
    if (R > 0)
        ReflectionStrip(srcImage, output, bgcolor, R, start, transparent, opacity, blur, skew);
    // The strip's scan lines are the output's bottom rows, the gap's follow,
    // then the picture's with the background beside them (the picture starts
    // at max(0, -skew)); the top `ge` rows stay zero.
    const RGBQUAD background = Background(bgcolor, transparent);
    for (int y = R; y < R + gap + H; ++y) {
        BYTE* line = output.getScanLine(unsigned(y));
        for (int x = 0; x < wide; ++x)
            std::memcpy(line + x * bpp / 8, &background, std::size_t(bpp / 8));
    }
    for (int y = 0; y < H; ++y)
        std::memcpy(output.getScanLine(unsigned(R + gap + y)) + std::max(0, -skew) * bpp / 8,
                    srcImage.getScanLine(unsigned(y)), std::size_t(W) * bpp / 8);

    output.copySubImage(dstImage, 0, 0, wide, H + gap + R + ge);
    return true;
}

// The reflection at any edge: a working copy is turned so that the edge lies
// at the bottom, reflected there, and the result turned back. +90 degrees turns
// counter-clockwise, so the left edge becomes the bottom.
// The skew counts rightwards for top and bottom and downwards for left and
// right: after the turn for the right edge, down is leftwards.
inline bool AddImageReflection(const fipImage& srcImage, fipImage& dstImage, _RGB bgcolor,
                               int direction, int rate, int start, int ge, bool transparent,
                               int opacity = 100, int gap = 0, int blur = 0, int skew = 0,
                               int margin = 0)
{
    fipImage work;
    if (!srcImage.copySubImage(work, 0, 0, int(srcImage.getWidth()), int(srcImage.getHeight())))
        return false;
    // The margin cut off at the reflecting edge (crop counts from the top-left).
    const int W = int(work.getWidth()), H = int(work.getHeight());
    if (margin > 0) {
        if (direction == 1)
            work.crop(0, 0, W, H - margin);
        else if (direction == 0)
            work.crop(0, margin, W, H);
        else if (direction == 2)
            work.crop(margin, 0, W, H);
        else
            work.crop(0, 0, W - margin, H);
    }
    switch (direction) {
    case 1:
        break;
    case 0:
        work.flipVertical();
        break;
    case 2:
        work.rotate(90);
        break;
    default:
        work.rotate(-90);
        break;
    }
    const int turnedSkew = direction == 0 || direction == 1 || direction == 2 ? skew : -skew;
    if (!BottomReflection(work, dstImage, bgcolor, rate, start, ge, transparent, opacity, gap, blur,
                          turnedSkew))
        return false;
    switch (direction) {
    case 1:
        break;
    case 0:
        dstImage.flipVertical();
        break;
    case 2:
        dstImage.rotate(-90);
        break;
    default:
        dstImage.rotate(90);
        break;
    }
    return true;
}

// The contact edge's margin: the lines at the edge (0 top, 1 bottom, 2 left,
// 3 right) whose every pixel has alpha 0 (32 bits), or lies within 8 on every
// channel of the outermost line's first pixel (24 bits), leftmost or topmost;
// 0 when every line is margin.
inline int ContactMargin(const fipImage& image, int direction)
{
    const int W = int(image.getWidth()), H = int(image.getHeight());
    const int step = int(image.getBitsPerPixel()) / 8;
    const bool vertical = direction == 0 || direction == 1;
    // Pixel u of line n counted from the edge, rows and columns counted from the top-left.
    const auto pixel = [&](int n, int u) {
        const int x = vertical ? u : direction == 2 ? n : W - 1 - n;
        const int y = !vertical ? u : direction == 0 ? n : H - 1 - n;
        return image.getScanLine(unsigned(H - 1 - y)) + x * step;
    };
    const BYTE* first = pixel(0, 0);
    const int lines = vertical ? H : W;
    for (int n = 0; n < lines; ++n) {
        for (int u = 0; u < (vertical ? W : H); ++u) {
            const BYTE* p = pixel(n, u);
            const bool margin = step == 4 ? p[3] == 0
                                          : std::abs(p[0] - first[0]) <= 8 &&
                                                std::abs(p[1] - first[1]) <= 8 &&
                                                std::abs(p[2] - first[2]) <= 8;
            if (!margin)
                return n;
        }
    }
    return 0;
}

inline bool AddImageReflection(const fipImage& srcImage, fipImage& dstImage,
                               const ReflectionParams& params)
{
    // Direction's order is the window's codes: 0 top, 1 bottom, 2 left, 3 right.
    const int direction = int(params.direction);
    const int margin = params.contactEdge ? ContactMargin(srcImage, direction) : 0;
    return AddImageReflection(srcImage, dstImage, params.color, direction, params.sizePercent,
                              params.unfadedPercent, params.extraLines, params.transparent,
                              params.opacity, params.gap, params.blur, params.skew, margin);
}

} // namespace oracle
