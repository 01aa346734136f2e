// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <functional>

class fipImage;

// Whether encodePng takes `image`: a standard 24- or 32-bit bitmap, the
// pictures the renderer produces. Others go through FreeImage's own writer.
bool pngWriterTakes(const fipImage& image);

// Encodes `image` as a PNG file into `out`, as FreeImage writes it with its
// default options, several times faster:
//   - 24-bit pictures as 8-bit RGB; 32-bit pictures as RGBA, or as RGB when
//     every alpha is 255 (FreeImage drops a fully opaque alpha channel too);
//   - the chunks FreeImage writes for such pictures: iCCP (the ICC profile),
//     bKGD (the background colour), pHYs (the resolution, when set), tIME
//     (the Exif date) and iTXt (comments and XMP);
//   - each row's filter is the one whose bytes have the smallest sum of
//     absolute values, worked out in the widest vectors the processor has,
//     and bands of rows are deflated by libdeflate on every core and joined
//     into one zlib stream.
// On failure `out` is left empty and `error` says why. `how` lets benchmarks
// compare levels and thread counts.
struct PngEncoding {
    int level = 0;   // libdeflate level 1..12; 0: the default for the picture's channels
    int threads = 0; // threads that filter and deflate; 0: workBudget(). The file is the same.
};
bool encodePng(const fipImage& image, QByteArray* out, QString* error = nullptr,
               const PngEncoding& how = {});

// The same, the file's bytes handed to `sink` piece by piece as they are made
// (the pixels' stream band by band), so that a large file need not be held
// whole; a sink that returns false ends the encoding.
using PngSink = std::function<bool(const char* data, std::size_t size)>;
bool encodePng(const fipImage& image, const PngSink& sink, QString* error,
               const PngEncoding& how = {});
