// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <FreeImage.h>

#include <memory>

// Releases a FreeImage bitmap that no fipImage owns.
struct BitmapDeleter {
    void operator()(FIBITMAP* dib) const { FreeImage_Unload(dib); }
};
using BitmapPtr = std::unique_ptr<FIBITMAP, BitmapDeleter>;

// True for the two layouts the pixel code reads directly: standard bitmaps of
// 24 (blue, green, red) or 32 (blue, green, red, alpha) bits per pixel.
bool isStandardBitmap(FIBITMAP* dib);

// A new standard bitmap holding `dib`'s picture at 32 bits when `want32`, else
// at 24 bits: palettised and 16-bit pictures through FreeImage's own
// conversions (a transparency table becomes alpha), 16-bit grey by its high
// byte, other scalar types scaled linearly to grey, and float colour clamped to
// 0..1. Returns null when FreeImage cannot convert the picture or memory runs
// out.
BitmapPtr convertToStandardBitmap(FIBITMAP* dib, bool want32);

// Gives `result` `source`'s ICC profile (or none), resolution and the record
// of how its file was coded (source_quality.h), replacing its own. A source without a resolution
// leaves the one a new bitmap has.
void carryProfileAndResolution(FIBITMAP* source, FIBITMAP* result);
