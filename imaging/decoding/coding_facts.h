// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How a picture file was coded, read from its bytes: FreeImage tells neither
// a JPEG's quantisation tables and sampling nor whether a WebP is lossless.
// Every length is checked against the file; a damaged file gives what could
// be read.

#include "imaging/pixels/source_quality.h"

#include <FreeImage.h>

#include <cstddef>

// JPEG: lossy, its IJG quality estimated from its quantisation tables (the
// quality whose scaled standard tables come nearest, luminance and
// chrominance together), its chroma sampling and whether it is progressive.
// WebP: lossy unless its picture is a VP8L stream. JPEG 2000, JNG and JPEG XR:
// lossy of unknown quality. Every other format: lossless.
SourceQuality readSourceQuality(FREE_IMAGE_FORMAT format, const unsigned char* data,
                                std::size_t size);
