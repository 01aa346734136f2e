// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// JPEG XL pictures, read through libjxl from the file's bytes in memory: no
// file is opened, nothing is written.

#include "imaging/decoding/decode_vocabulary.h"

#include <cstddef>

// Whether `data` starts with a JPEG XL signature (a bare codestream or the
// box container).
bool looksLikeJxl(const unsigned char* data, std::size_t size);

// The picture (the first frame of an animation) turned upright as its
// orientation says, its alpha kept, 16-bit and float values brought to 8 bits
// by the library, the profile of its decoded values carried (none for sRGB).
// The size is checked against `limits` before any pixel is decoded.
DecodeOutcome decodeJxl(const unsigned char* data, std::size_t size, const DecodeLimits& limits,
                        const HeaderRead& headerRead);
