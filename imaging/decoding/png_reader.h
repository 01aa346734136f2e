// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/pixels/standard_bitmap.h"

#include <cstddef>

// Reads the plain PNG files most programs write (Glassmere's own among them)
// several times faster than FreeImage: 8-bit RGB or RGBA, not interlaced,
// with no chunk that changes how the pixels are read or what goes with them
// (no palette, transparency, gamma, colour space or EXIF; an ICC profile is
// fine, it is read from the file's bytes apart) and every CRC right. libdeflate
// inflates the pixels in one call; the rows are unfiltered in one pass.
//
// The bitmap is the one FreeImage's reader gives for the same file: 24 bits
// for RGB, 32 for RGBA (marked transparent when an alpha is below 255), the
// resolution from pHYs when it is in metres. Null for every other file and
// for any damage, so that FreeImage reads those exactly as before. The
// caller checks the size against its limits first (from the header).
BitmapPtr readPlainPng(const unsigned char* data, std::size_t size);
