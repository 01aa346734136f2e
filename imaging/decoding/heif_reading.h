// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// HEIC/HEIF pictures (phones) and AVIF pictures (the web), read through
// libheif from the file's bytes in memory: no file is opened, nothing is
// written.

#include "imaging/decoding/decode_vocabulary.h"

#include <cstddef>

// Whether `data` starts like a HEIF file libheif reads: an ISO box file whose
// brands name HEIC, HEIF or AVIF pictures.
bool looksLikeHeif(const unsigned char* data, std::size_t size);

// The file's primary picture (no thumbnail, depth map or other picture of a
// collection), turned and mirrored as the file's own transforms say, once (an
// EXIF orientation the file also carries is not applied on top), its alpha
// kept and 10- or 12-bit values rounded to 8 bits. The size is checked against
// `limits` before any pixel is decoded. The profile: the file's ICC profile,
// or for a colour description without one (an nclx box) an equivalent
// profile, none for sRGB.
DecodeOutcome decodeHeif(const unsigned char* data, std::size_t size, const DecodeLimits& limits,
                         const HeaderRead& headerRead);

// Whatever the library sets up once (its plugins), done before the first
// picture: the decoder calls it at start-up.
void prepareHeifReading();
