// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/pixels/standard_bitmap.h"

#include "imaging/pixels/source_quality.h"

bool isStandardBitmap(FIBITMAP* dib)
{
    if (!dib || !FreeImage_HasPixels(dib) || FreeImage_GetImageType(dib) != FIT_BITMAP)
        return false;
    const unsigned bpp = FreeImage_GetBPP(dib);
    return bpp == 24 || bpp == 32;
}

namespace {

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
    const unsigned channels = hasAlpha ? 4 : 3; // FIRGBAF, FIRGBF: red, green, blue (, alpha)
    const unsigned width = FreeImage_GetWidth(dib);
    const unsigned height = FreeImage_GetHeight(dib);
    const int bytes = want32 ? 4 : 3;
    BitmapPtr out(FreeImage_Allocate(width, height, bytes * 8));
    if (!out)
        return nullptr;
    for (unsigned y = 0; y < height; ++y) {
        const float* pixel = reinterpret_cast<const float*>(FreeImage_GetScanLine(dib, y));
        BYTE* line = FreeImage_GetScanLine(out.get(), y);
        for (unsigned x = 0; x < width; ++x, pixel += channels, line += bytes) {
            line[FI_RGBA_BLUE] = floatToByte(pixel[2]);
            line[FI_RGBA_GREEN] = floatToByte(pixel[1]);
            line[FI_RGBA_RED] = floatToByte(pixel[0]);
            if (want32)
                line[FI_RGBA_ALPHA] = hasAlpha ? floatToByte(pixel[3]) : 255;
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
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(dib);
    if (type == FIT_BITMAP || type == FIT_RGB16 || type == FIT_RGBA16)
        return convertBitmap(dib, want32);
    if (type == FIT_RGBF || type == FIT_RGBAF)
        return convertFloatColour(dib, want32);
    // 16-bit grey keeps its look through the high byte; a linear stretch
    // between the picture's own extremes would not.
    const BitmapPtr grey(type == FIT_UINT16 ? FreeImage_ConvertTo8Bits(dib)
                                            : FreeImage_ConvertToStandardType(dib, TRUE));
    return grey ? convertBitmap(grey.get(), want32) : nullptr;
}

void carryProfileAndResolution(FIBITMAP* source, FIBITMAP* result)
{
    // A bitmap of FreeImage's own, for the resolution it gives a new one.
    static const BitmapPtr fresh(FreeImage_Allocate(1, 1, 24));
    const unsigned x = FreeImage_GetDotsPerMeterX(source);
    const unsigned y = FreeImage_GetDotsPerMeterY(source);
    const bool known = x != 0 && y != 0;
    FreeImage_SetDotsPerMeterX(result, known ? x : FreeImage_GetDotsPerMeterX(fresh.get()));
    FreeImage_SetDotsPerMeterY(result, known ? y : FreeImage_GetDotsPerMeterY(fresh.get()));

    const FIICCPROFILE* icc = FreeImage_GetICCProfile(source);
    if (icc && icc->data && icc->size > 0)
        FreeImage_CreateICCProfile(result, icc->data, icc->size);
    else
        FreeImage_DestroyICCProfile(result);
    recordSourceQuality(result, recordedSourceQuality(source));
}
