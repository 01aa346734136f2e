// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Files in the layouts other programs write, hand-made byte by byte, with the
// picture the readers must give: BMPs of every header, bit-field layout and
// RLE, cut or skipping pixels, and a BMP of a kind not read; PNGs with a
// transparent grey level and with gAMA in every colour type.

#include "hostile_files.h"

#include <functional>

// What a picture becomes once normalised, worked out pixel by pixel from
// `colour` (x, scan line y; alpha in rgbReserved at 32 bits) rather than by
// FreeImage's own conversion.
using Colour = std::function<RGBQUAD(unsigned, unsigned)>;
fipImage normalised(unsigned width, unsigned height, unsigned bits, const Colour& colour);

// Writes the layouts into `folder` (which must exist) and describes each file.
QList<HostileFile> writeReaderLayouts(const QString& folder);
