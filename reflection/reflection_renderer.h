#pragma once

#include <FreeImagePlus.h>
#include <QSize>

class ResultMemory;

// The reflection's background colour: three signed words, each 0..255.
struct _RGB {
    int red;
    int green;
    int blue;
};

// Everything a render needs, passed explicitly so batch, window and command
// line render the same picture the same way.
struct ReflectionParams {
    int direction = 1; // 0 top, 1 bottom, 2 left, 3 right; any other value acts as right
    int rate = 40;     // strip size in percent of the extent across the reflecting edge
    int start = 30;    // unfaded share of the strip in percent
    int ge = 0;        // extra zero rows/columns at the edge opposite the strip
    _RGB color{255, 255, 255};
    bool transparent = false; // fade by alpha instead of towards `color`
};

// Renders `source` plus its reflection into `result` in one pass, straight from
// the source's scan lines: no working copy, no turns.
//
// The result is a standard bitmap of 32 bits in transparency mode and of the
// source's depth (after the conversion below) otherwise; in colour mode a
// 32-bit source keeps its alpha bytes unchanged. It carries the source's ICC
// profile and resolution (the default one when the source has none) and
// nothing else: no metadata, palette or background colour. The pixels are
// worked on as the source holds them, whatever its profile. `source` may be any FreeImage
// picture; it is brought to 24 bits (colour mode, no transparency) or 32 bits
// (transparent or transparency mode) first when it is not already a 24/32-bit
// standard bitmap.
//
// Settings outside their range act as the nearest meaningful value: `rate` and
// `start` are held to 0..100, `ge` to at least 0, colour channels to 0..255. A
// strip of no rows (rate 0, or a picture too small for the rate) gives the
// picture itself plus the `ge` lines.
//
// `result` keeps its bitmap when the new result has the same size and depth and
// that bitmap carries nothing a new one would not; every byte of it, padding
// included, is rewritten. `source` and `result` may be the same object.
// Returns false and leaves `result` untouched when `source` is empty, cannot be
// converted or memory runs out.
//
// With `memory`, a result that cannot keep its bitmap gets one over that
// memory instead of a fresh one (see ResultMemory): `result` must then not
// outlive `memory`, and copies of it (which own their pixels) are made with
// fipImage's copy.
bool renderReflection(const fipImage& source, fipImage& result, const ReflectionParams& params,
                      ResultMemory* memory = nullptr);

// The size of the result that renderReflection makes of a picture of that size.
QSize reflectionResultSize(int width, int height, const ReflectionParams& params);
