// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/pixels/standard_bitmap.h"

#include "imaging/pixels/source_quality.h"

#include <algorithm>

bool isStandardBitmap(FIBITMAP* dib)
{
    if (!dib || !FreeImage_HasPixels(dib) || FreeImage_GetImageType(dib) != FIT_BITMAP)
        return false;
    const unsigned bpp = FreeImage_GetBPP(dib);
    return bpp == 24 || bpp == 32;
}

namespace {

// The resolution FreeImage gives a new bitmap.
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

BYTE floatToByte(float value)
{
    // NaN fails both comparisons and ends as 0.
    if (!(value > 0.0f))
        return 0;
    if (value >= 1.0f)
        return 255;
    return static_cast<BYTE>(value * 255.0f + 0.5f);
}

// Float colour (RGBF, RGBAF) as it would show on screen: 0..1 is the visible
// range. Tone mapping would change the look and drop alpha.
BitmapPtr convertFloatColour(FIBITMAP* dib, bool want32)
{
    const bool hasAlpha = FreeImage_GetImageType(dib) == FIT_RGBAF;
    const unsigned width = FreeImage_GetWidth(dib);
    const unsigned height = FreeImage_GetHeight(dib);
    const int bytes = want32 ? 4 : 3;
    BitmapPtr out(FreeImage_Allocate(width, height, bytes * 8));
    if (!out)
        return nullptr;
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* in = FreeImage_GetScanLine(dib, y);
        BYTE* line = FreeImage_GetScanLine(out.get(), y);
        for (unsigned x = 0; x < width; ++x, line += bytes) {
            float red, green, blue, alpha = 1.0f;
            if (hasAlpha) {
                const FIRGBAF* pixel = reinterpret_cast<const FIRGBAF*>(in) + x;
                red = pixel->red;
                green = pixel->green;
                blue = pixel->blue;
                alpha = pixel->alpha;
            } else {
                const FIRGBF* pixel = reinterpret_cast<const FIRGBF*>(in) + x;
                red = pixel->red;
                green = pixel->green;
                blue = pixel->blue;
            }
            line[FI_RGBA_BLUE] = floatToByte(blue);
            line[FI_RGBA_GREEN] = floatToByte(green);
            line[FI_RGBA_RED] = floatToByte(red);
            if (want32)
                line[FI_RGBA_ALPHA] = floatToByte(alpha);
        }
    }
    return out;
}

BitmapPtr convertBitmap(FIBITMAP* dib, bool want32)
{
    return BitmapPtr(want32 ? FreeImage_ConvertTo32Bits(dib) : FreeImage_ConvertTo24Bits(dib));
}

} // namespace

BitmapPtr convertToStandardBitmap(FIBITMAP* dib, bool want32)
{
    if (!dib || !FreeImage_HasPixels(dib))
        return nullptr;
    switch (FreeImage_GetImageType(dib)) {
    case FIT_BITMAP:
    case FIT_RGB16:
    case FIT_RGBA16:
        return convertBitmap(dib, want32);
    case FIT_RGBF:
    case FIT_RGBAF:
        return convertFloatColour(dib, want32);
    case FIT_UINT16: {
        // 16-bit grey keeps its look through the high byte; a linear stretch
        // between the picture's own extremes would not.
        BitmapPtr grey(FreeImage_ConvertTo8Bits(dib));
        return grey ? convertBitmap(grey.get(), want32) : nullptr;
    }
    default: {
        BitmapPtr grey(FreeImage_ConvertToStandardType(dib, TRUE));
        return grey ? convertBitmap(grey.get(), want32) : nullptr;
    }
    }
}

void carryProfileAndResolution(FIBITMAP* source, FIBITMAP* result)
{
    static const DefaultResolution fresh;
    const unsigned x = FreeImage_GetDotsPerMeterX(source);
    const unsigned y = FreeImage_GetDotsPerMeterY(source);
    const bool known = x != 0 && y != 0;
    FreeImage_SetDotsPerMeterX(result, known ? x : fresh.x);
    FreeImage_SetDotsPerMeterY(result, known ? y : fresh.y);

    const FIICCPROFILE* icc = FreeImage_GetICCProfile(source);
    if (icc && icc->data && icc->size > 0)
        FreeImage_CreateICCProfile(result, icc->data, icc->size);
    else
        FreeImage_DestroyICCProfile(result);
    recordSourceQuality(result, recordedSourceQuality(source));
}
