// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Glassmere's own BMP reader. BMPs come from every program there is, in
// layouts the image libraries here read wrongly: bit-field masks of any width,
// a fourth byte that is only padding, RLE streams that skip or lose pixels.
// This reader takes the headers apart defensively, checks the size against
// DecodeLimits before it allocates, and writes every pixel of its bitmap.
//
// What it reads: Windows headers of 40, 52, 56, 108 and 124 bytes, OS/2 1.x
// (12 bytes) and 2.x (16 to 64 bytes) headers, OS/2 bitmap arrays (their first
// picture); 1, 2, 4 and 8 bits through a palette, 16 and 32 bits (and 24 with
// bit fields) through masks, 24 bits, RLE8, RLE4 and OS/2's 24-bit RLE.
//
// How it reads them, as browsers do:
// - every mask field is scaled to 8 bits as v × 255 / max, rounded;
// - alpha comes only from a declared alpha mask (BI_ALPHABITFIELDS, or the
//   mask of a header of 56 bytes or more); without one the picture is opaque,
//   and an alpha field that is 0 in every pixel is taken as padding too;
// - pixels the file does not define (cut off, skipped or left out by an RLE
//   stream) are transparent black, the same on every run.

#include "imaging/decoding/decode_vocabulary.h"

#include <cstddef>

// True when `data` starts as a BMP file does ("BM", or "BA" for an OS/2
// bitmap array).
bool looksLikeBmp(const unsigned char* data, std::size_t size);

// Decodes a BMP file held in `data` into a standard bitmap: 24 bits when
// every pixel is opaque, 32 when some are not. Kinds of BMP it does not read
// (embedded JPEG or PNG streams, CMYK, OS/2 Huffman 1D, 64 bits per pixel)
// fail as Unreadable with a reason that names the kind.
// `headerRead`, when given, learns the size the header claims first.
DecodeOutcome decodeBmp(const unsigned char* data, std::size_t size, const DecodeLimits& limits,
                        const HeaderRead& headerRead = {});
