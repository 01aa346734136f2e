// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a result in a lossy format is written at: as the picture's own file
// was coded, so that what goes in at a quality comes out at that quality.

#include "imaging/pixels/source_quality.h"

// What the user asked for (glassmere-cli's --quality); it overrides the rule.
struct QualityChoice {
    int quality = 0;       // 1-100; 0: as the rule says
    bool lossless = false; // lossless where the format can be (WebP, AVIF)
};

// The kinds of target format the rule tells apart.
enum class TargetCoding {
    LossyOnly,       // JPEG
    LossyOrLossless, // WebP, AVIF
};

struct ResultQuality {
    bool lossless = false;
    int quality = 90; // 1-100, for a lossy result
    ChromaSampling sampling = ChromaSampling::Full;
    bool progressive = false;
};

// The quality given to a result that keeps no quality of its own: a picture
// from a lossless file, or from a lossy one whose quality is not known.
constexpr int defaultResultQuality = 90;

// The rule, for every lossy format Glassmere writes:
// - a picture from a lossless file (PNG, BMP, TIFF, GIF, a lossless WebP...)
//   gives a lossless result where the format has one, otherwise quality 90
//   with full chroma (4:4:4);
// - a picture from a lossy file gives a lossy result at that file's quality
//   (90 when it is not known, as for a lossy WebP), with its chroma sampling
//   and progressiveness when it was a JPEG (4:4:4 and baseline otherwise);
// - `asked` overrides the quality, or asks for lossless; a JPEG result
//   cannot be lossless and then follows the rule.
ResultQuality resultQuality(const SourceQuality& source, TargetCoding target,
                            const QualityChoice& asked = {});
