// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The decode itself: bytes of a picture file in, a standard 24/32-bit bitmap
// out. It runs inside the glassmere-decoder process (and inside the fuzz
// target), never in the program that shows or writes pictures: the image
// readers behind it are not trusted to fail cleanly on damaged files.

#include "imaging/decoding/decode_vocabulary.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// Decodes the whole file held in `data` and turns it upright as its EXIF
// orientation says. The format comes from the data's
// signature, then from `name`'s extension. BMPs are read by Glassmere's own
// reader (bmp_reading.h), HEIC/HEIF and AVIF through libheif (heif_reading.h),
// JPEG XL through libjxl (jxl_reading.h), every other format by FreeImage, its PNG and TGA
// results corrected (reader_corrections.h); when FreeImage refuses the data,
// Qt's readers of a few raster formats get their turn. `data` is only read and
// may be a read-only mapping of the file.
// `headerRead`, when given, learns the size the header claims before the
// pixels are decoded (formats that can tell it), and how densely the format
// can code them.
DecodeOutcome decodePictureData(const unsigned char* data, std::size_t size, const QString& name,
                                const DecodeLimits& limits, const HeaderRead& headerRead = {});

// Loads now what the readers would load at their first picture (Qt's image
// plugins), so that decoding opens no file: the decoder calls it before it
// locks itself in.
void prepareReaders();
