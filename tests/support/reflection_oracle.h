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

// The strip of R rows, blurred, faded and laid over the background, into the
// bottom R scan lines of `output`.
inline void ReflectionStrip(const fipImage& srcImage, fipImage& output, _RGB bgcolor, int R,
                            int start, bool transparent, int opacity, int blur)
{
    const int W = int(srcImage.getWidth());
    const int bpp = int(srcImage.getBitsPerPixel());
    // The strip: the picture flipped, cut down to its top R rows, that is the
    // bottom R rows of the picture mirrored.
    fipImage strip(srcImage);
    strip.flipVertical();
    strip.crop(0, 0, W, R);
    const int F = (100 - start) * int(strip.getHeight()) / 100;

    // Blurred first, then the opacity, then the fade.
    BlurStrip(strip, blur, transparent);
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
                             int blur = 0)
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
    fipImage output(FIT_BITMAP, W, H + gap + R + ge, bpp);
    if (R > 0)
        ReflectionStrip(srcImage, output, bgcolor, R, start, transparent, opacity, blur);
    // The strip's scan lines are the output's bottom rows, the gap's follow
    // (the background colour, opaque, or all 0 in transparency mode), then the
    // picture's; the top `ge` rows stay zero.
    for (int g = 0; g < gap && !transparent; ++g) {
        BYTE* line = output.getScanLine(unsigned(R + g));
        for (int x = 0; x < W; ++x, line += bpp / 8) {
            line[0] = BYTE(bgcolor.blue);
            line[1] = BYTE(bgcolor.green);
            line[2] = BYTE(bgcolor.red);
            if (bpp == 32)
                line[3] = 255;
        }
    }
    std::memcpy(output.accessPixels() + std::size_t(output.getScanWidth()) * (R + gap),
                srcImage.accessPixels(), std::size_t(srcImage.getScanWidth()) * H);

    output.copySubImage(dstImage, 0, 0, W, H + gap + R + ge);
    return true;
}

// The reflection at any edge: a working copy is turned so that the edge lies
// at the bottom, reflected there, and the result turned back. +90 degrees turns
// counter-clockwise, so the left edge becomes the bottom.
inline bool AddImageReflection(const fipImage& srcImage, fipImage& dstImage, _RGB bgcolor,
                               int direction, int rate, int start, int ge, bool transparent,
                               int opacity = 100, int gap = 0, int blur = 0)
{
    fipImage work;
    if (!srcImage.copySubImage(work, 0, 0, int(srcImage.getWidth()), int(srcImage.getHeight())))
        return false;
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
    if (!BottomReflection(work, dstImage, bgcolor, rate, start, ge, transparent, opacity, gap,
                          blur))
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

inline bool AddImageReflection(const fipImage& srcImage, fipImage& dstImage,
                               const ReflectionParams& params)
{
    // Direction's order is the window's codes: 0 top, 1 bottom, 2 left, 3 right.
    return AddImageReflection(srcImage, dstImage, params.color, int(params.direction),
                              params.sizePercent, params.unfadedPercent, params.extraLines,
                              params.transparent, params.opacity, params.gap, params.blur);
}

} // namespace oracle
