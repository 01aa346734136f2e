// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What of a picture's own description reaches its result. Its orientation is
// applied to the pixels when it is decoded, so everything works on the picture
// as viewers show it; its ICC profile and resolution go with it to the result.
// Everything else (camera data, GPS position, comments, thumbnails) stays
// behind: results go on the web, and a position must not leak.

#include "imaging/pixels/standard_bitmap.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

// The longest profile that goes with a picture (a JPEG holds at most 16 MB).
constexpr std::uint32_t maxProfileLength = 1u << 24;

// Whether `profile` can go with a result: a sound ICC profile for RGB values,
// which every result holds, that passes the checks PNG writers make before
// they store one (libpng refuses to write the file otherwise). Grey and CMYK
// profiles describe other values than the result's and do not qualify.
bool isCarriableProfile(const QByteArray& profile);

// `dib`'s embedded profile when it is carriable, else empty.
QByteArray carriableProfile(FIBITMAP* dib);

// The carriable profile of the PNG file in `data`, from its iCCP chunk, else
// empty. FreeImage's PNG reader does not hand it over.
QByteArray pngProfile(const unsigned char* data, std::size_t size);

// Whether the TIFF file in `data` states a resolution. FreeImage reads one
// that does not as 300 dpi; such a picture has none.
bool tiffStatesResolution(const unsigned char* data, std::size_t size);

// The EXIF orientation (1 to 8) the reader found with `dib`, 1 when there is
// none or it is not one of the eight.
int pictureOrientation(FIBITMAP* dib);

// `dib` turned and mirrored as `orientation` says, so that it holds the
// picture upright; a turn by a quarter swaps the resolution's axes. Null when
// memory runs out.
BitmapPtr turnUpright(BitmapPtr dib, int orientation);
