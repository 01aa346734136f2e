// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// FreeImage reads a few PNG and TGA layouts unlike every other reader. These
// put its result right, from facts read straight from the file's bytes:
//
// - gamma: a PNG's gAMA chunk is applied for every colour type, as browsers
//   apply it, for a screen gamma of 2.2 and with libpng's own arithmetic.
//   FreeImage lets libpng correct truecolour and 16-bit grey pixels; palettes
//   and grey of up to 8 bits are read uncorrected and their palette entries
//   corrected here, so the transparent grey level and the picture's indices
//   stay as stored.
// - a grey PNG of 1, 2 or 4 bits widened to 8 keeps its transparent grey
//   level (tRNS) at the widened value.
// - a 32-bit TGA whose header declares no alpha bits is opaque: its fourth
//   byte is padding.
// - a JPEG is decoded with the accurate transform (JPEG_ACCURATE).

#include <FreeImage.h>

#include <cstddef>

// The load flags for FreeImage's reader of `format`, given the file's bytes.
int readerFlags(FREE_IMAGE_FORMAT format, const unsigned char* data, std::size_t size);

// Corrects `dib`, just decoded by FreeImage from `data` with readerFlags, in place.
void correctDecodedPicture(FREE_IMAGE_FORMAT format, const unsigned char* data, std::size_t size,
                           FIBITMAP* dib);
