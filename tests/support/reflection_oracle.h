#pragma once

// The reflection computed the plain way, step by step with FreeImagePlus's own
// copy, flip, turn, crop and 32-bit conversion and a byte loop over bottom-up
// scan lines. Slow and obviously right: the fast renderer is checked against
// it byte for byte, and the benchmark measures it as the baseline.
//
// Header-only, so that both the tests and the benchmarks can use it.

#include "reflection/reflection_renderer.h"

#include <FreeImagePlus.h>

#include <cstring>

namespace oracle {

// The reflection below `srcImage` into `dstImage`. In transparency mode
// `srcImage` is first converted to 32 bits in place. Returns false, leaving
// `dstImage` as it was, where the step-by-step way has no sound result: a strip
// of 0 rows, a picture that is not a 24- or 32-bit standard bitmap.
inline bool BottomReflection(fipImage& srcImage, fipImage& dstImage, _RGB bgcolor, int rate,
                             int start, int ge, bool transparent)
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
    if (R == 0)
        return false;

    fipImage output(FIT_BITMAP, W, H + R + ge, bpp);

    // The strip: the picture flipped, cut down to its top R rows, that is the
    // bottom R rows of the picture mirrored.
    fipImage strip(srcImage);
    strip.flipVertical();
    strip.crop(0, 0, W, R);
    const int F = (100 - start) * int(strip.getHeight()) / 100;

    // Scan line s of the strip, s = 0 being its outer edge row.
    const int pitch = int(strip.getScanWidth());
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

    // The strip's scan lines are the output's bottom rows, the picture's follow;
    // the top `ge` rows stay zero.
    std::memcpy(output.accessPixels(), strip.accessPixels(), std::size_t(pitch) * R);
    std::memcpy(output.accessPixels() + std::size_t(pitch) * R, srcImage.accessPixels(),
                std::size_t(srcImage.getScanWidth()) * H);

    output.copySubImage(dstImage, 0, 0, W, H + R + ge);
    return true;
}

// The reflection at any edge: a working copy is turned so that the edge lies
// at the bottom, reflected there, and the result turned back. +90 degrees turns
// counter-clockwise, so the left edge becomes the bottom.
inline bool AddImageReflection(const fipImage& srcImage, fipImage& dstImage, _RGB bgcolor,
                               int direction, int rate, int start, int ge, bool transparent)
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
    if (!BottomReflection(work, dstImage, bgcolor, rate, start, ge, transparent))
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
    return AddImageReflection(srcImage, dstImage, params.color, params.direction, params.rate,
                              params.start, params.ge, params.transparent);
}

} // namespace oracle
