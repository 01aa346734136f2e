// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// AVIF results, written through libheif's AV1 encoder (aom).

#include <QByteArray>
#include <QString>

class fipImage;

// The quality that stands for "as good as the encoder gets": lossless AV1.
constexpr int avifLossless = 101;

// Whether `path`'s extension asks for AVIF.
bool isAvifName(const QString& path);

// Encodes a standard 24- or 32-bit `image` (alpha kept) as an AVIF file at
// `quality` (1 to 100, or avifLossless), its ICC profile kept, into `bytes`,
// on `threads` threads (0: every core). Chroma is not subsampled, so small
// coloured text stays sharp.
bool encodeAvif(const fipImage& image, int quality, QByteArray* bytes, QString* error,
                int threads = 0);
