// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How the file a picture came from was coded: lossless, or lossy at what
// quality, with what chroma sampling. The decoder reports it; it goes with
// the picture as its profile and resolution do (on the bitmap itself, carried
// to the result by carryProfileAndResolution), so that a result can be written
// as the picture was.

#include <FreeImage.h>
#include <QString>

#include <cstdint>

enum class ChromaSampling : std::uint32_t {
    Unknown = 0, // not a JPEG, grey, or a layout other than these three
    Full = 1,    // 4:4:4, 1x1
    Half = 2,    // 4:2:2, 2x1
    Quarter = 3, // 4:2:0, 2x2
};

// Fixed-width fields without padding: it crosses the decoder's socket.
struct SourceQuality {
    std::uint32_t lossy = 0;   // 1 when the file's coding loses detail (JPEG, lossy WebP, ...)
    std::uint32_t quality = 0; // a JPEG's IJG quality, 1-100; 0 when not known
    ChromaSampling sampling = ChromaSampling::Unknown;
    std::uint32_t progressive = 0; // 1 for a progressive JPEG
};

// Records `source` on `dib`, replacing what it held; a lossless source with
// nothing else to say leaves no record.
void recordSourceQuality(FIBITMAP* dib, const SourceQuality& source);
// What `dib` records; a picture without a record counts as lossless.
SourceQuality recordedSourceQuality(FIBITMAP* dib);

// What the reader reported as damage while it decoded the picture ("Premature
// end of JPEG file"), recorded with it; empty for a whole picture. It is not
// carried to results.
void recordDamage(FIBITMAP* dib, const QString& words);
QString recordedDamage(FIBITMAP* dib);
