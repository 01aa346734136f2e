// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// HEIC, AVIF and JPEG XL files made by Debian's own encoders (heif-enc,
// avifenc, cjxl), and what the formats' reference decoders (heif-convert,
// avifdec, djxl) read from them.

#include <FreeImagePlus.h>
#include <QByteArray>
#include <QString>
#include <QStringList>

// Writes `picture` as a PNG (with `profile` when given) and turns it into
// `path` with `tool` and `arguments` (the PNG's and the output's paths are
// appended: "in.png -o out" for heif-enc, "in.png out" otherwise). Returns the
// tool's complaint, empty on success.
QString encodeWithTool(const fipImage& picture, const QString& path, const QString& tool,
                       const QStringList& arguments, const QByteArray& profile = {});

// Writes `picture` through libheif as a HEIC whose file turns it a quarter
// clockwise when shown (an irot box), and which also carries an EXIF
// orientation of 6 that must not turn it again.
void writeTurnedHeic(const fipImage& picture, const QString& path);

// The reference decoder's picture of `path` (chosen by the extension), as a
// standard 24- or 32-bit bitmap; invalid when the decoder fails.
fipImage referenceDecode(const QString& path);

// The largest difference of one channel between two pictures of the same
// size and depth, or -1 when their sizes or depths differ.
int largestDifference(const fipImage& a, const fipImage& b);

// The ICC profile FreeImage finds with `picture`, empty without one.
QByteArray profileOf(const fipImage& picture);
