// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <FreeImagePlus.h>
#include <QSize>
#include <QString>

class PixelMemory;

// The reflection's background colour: three signed words, each 0..255.
struct _RGB {
    int red;
    int green;
    int blue;
};

// Everything a render needs, passed explicitly so batch, window and command
// line render the same picture the same way.
// The edge of the picture the reflection is laid against.
enum class Direction { Top, Bottom, Left, Right };

struct ReflectionParams {
    Direction direction = Direction::Bottom;
    int sizePercent = 40;    // strip size in percent of the extent across the reflecting edge
    int unfadedPercent = 30; // unfaded share of the strip in percent
    int extraLines = 0;      // extra zero rows/columns at the edge opposite the strip
    _RGB color{255, 255, 255};
    bool transparent = false; // fade by alpha instead of towards `color`
    int opacity = 100;        // the mirror's strength where it touches the picture, percent
    int gap = 0;              // background lines between the picture and the strip
    int blur = 0;             // blur radius in pixels at the strip's outer end
    bool contactEdge = false; // take away the empty margin at the reflecting edge first
    int skew = 0;             // pixels the strip's outer end is moved along the edge
};

// The same settings, field by field (a new field is compared here too).
inline bool operator==(const ReflectionParams& a, const ReflectionParams& b)
{
    return a.direction == b.direction && a.sizePercent == b.sizePercent &&
           a.unfadedPercent == b.unfadedPercent && a.extraLines == b.extraLines &&
           a.color.red == b.color.red && a.color.green == b.color.green &&
           a.color.blue == b.color.blue && a.transparent == b.transparent &&
           a.opacity == b.opacity && a.gap == b.gap && a.blur == b.blur &&
           a.contactEdge == b.contactEdge && a.skew == b.skew;
}
inline bool operator!=(const ReflectionParams& a, const ReflectionParams& b)
{
    return !(a == b);
}

// Largest blur radius the renderer takes; larger values act as this one.
constexpr int maximumBlur = 200;
// Largest skew either way; larger values act as this one.
constexpr int maximumSkew = 10000;

// Renders `source` plus its reflection into `result` in one pass, straight from
// the source's scan lines: no working copy, no turns. A blur adds one more pass
// over the strip alone.
//
// Bottom direction, rows from the top (the other directions are this one
// turned; the diagram in the .cpp shows them):
//
//   +-----------------+----+
//   | extra lines (0)      |
//   +-----------------+----+
//   | picture, H rows | bg |  unchanged; a skew S makes the result |S| wider,
//   +-----------------+----+  background beside the picture (left of it for S < 0)
//   | gap, G rows          |  background colour (alpha 255 at 32 bits), or all 0
//   +----------------------+  in transparency mode
//   | strip, R rows   \    |  t = 0 (touching) .. R - 1 (outer end); the last F
//   |                  \   |  fade; the outer end moved S along the edge
//   +----------------------+
//   ( margin rows )           taken away first with the contact edge
//
// Contact edge: before anything else, the picture's margin at the reflecting
// edge is taken away, so that the mirror touches what the picture shows: the
// run of whole rows (columns for left and right) at that edge that are fully
// transparent (alpha 0) in a 32-bit picture, or, in a 24-bit one, within 8 on
// every channel of the first pixel (leftmost, topmost) of the outermost line.
// H and W are then the picture without that margin, and size and depth are
// shares of it; the other three margins stay. A picture that is all margin is
// reflected as it is.
//
// R = H * sizePercent / 100 and F = (100 - unfadedPercent) * R / 100, from the
// picture alone;
// the gap does not change them. Strip row t starts as picture row H - 1 - t
// (the mirror) and is worked on in this order: mirror, blur, skew, opacity,
// fade:
//
//   1. blur (blur B > 0, R > 1): the mirror is blurred with a radius growing
//      linearly from 0 on row t = 0 to B on row R - 1: r = B * t / (R - 1).
//      Each row gets three box passes along the row, then every column three
//      box passes across the rows, each output rounded to a byte. A pass at
//      row t has the half-width h = (sqrt(1 + r * r) - 1) / 2 (three passes
//      then spread about as a Gaussian of deviation r / 2), held in 1/256
//      pixel as h256 = round(256 * h): with n = h256 / 256, the 2n + 1
//      values around get the weight W = 2 * ((32768 * 256) / (2 * h256 + 256))
//      (about 65536 / (2h + 1)) and the two next ones V = (65536 - (2n + 1) * W)
//      / 2 each: out = (W * (sum of the 2n + 1) + V * (sum of the two)
//      + 32768) / 65536. Values beyond the strip repeat its edge. Row 0
//      (h = 0) stays exactly as it was. In transparency mode the pixels are blurred premultiplied,
//      p = (c * alpha + 127) / 255, and brought back as
//      c = min(255, (p * 255 + alpha / 2) / alpha), 0 where alpha is 0; in
//      colour mode alpha bytes are not blurred.
//   2. skew S != 0 (R > 1): line t is moved along the edge by
//      d = S * t / (R - 1) pixels (right for top and bottom, down for left and
//      right; negative the other way), held in 1/256 pixel as
//      d256 = round(256 * d), halves away from zero. With the picture at
//      p = max(0, -S) along the result's W + |S| (so D = 256 * p + d256 >= 0),
//      i = D / 256 and f = D % 256, pixel x of the line is made of the
//      mirror's pixels a = x - i and b = x - i - 1 (the background beyond the
//      mirror: the gap's pixel): f = 0 gives a itself; otherwise each byte is
//      (v_a * (256 - f) + v_b * f + 128) / 256, except that in transparency
//      mode, where the two alphas differ, colours are weighed by their alpha:
//      with A = a_a * (256 - f) + a_b * f (the alpha's byte is
//      (A + 128) / 256 as above), b's share g = 256 * a_b * f / A, rounded,
//      halves to even, takes f's place: c = (c_a * (256 - g) + c_b * g + 128)
//      / 256. Line 0 is not moved.
//   3. opacity O < 100: colour mode, each colour byte v moves towards the
//      background's channel c: v' = v + ((100 - O) * (c - v)) / 100;
//      transparency mode, alpha a' = a * O / 100.
//   4. fade, the last F rows, s = R - 1 - t from F - 1 down to 0:
//      colour mode v'' = v' + ((F - 1 - s) * (c - v')) / F;
//      transparency mode a'' = a' * s / F.
//
// Every division truncates towards zero unless it says rounded.
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
// Settings outside their range act as the nearest meaningful value:
// `sizePercent`, `unfadedPercent` and `opacity` are held to 0..100,
// `extraLines` and `gap` to at least 0,
// `blur` to 0..maximumBlur, `skew` to -maximumSkew..maximumSkew, colour
// channels to 0..255. A strip of no rows
// (size 0, or a picture too small for the size) gives the picture itself, the
// gap and the extra lines; a strip of fewer than two lines is not skewed (and
// the result does not grow).
//
// `result` gets a new bitmap, replacing (and releasing) the one it held;
// `source` and `result` may be the same object. Returns false, says why in
// `error` ("Out of memory: the 6000 × 5600 result needs 96.1 MB") and leaves
// `result` untouched when `source` is empty, cannot be converted or memory
// runs out.
//
// With `memory`, the result is made over that memory's block instead of fresh
// memory (see PixelMemory): rendering again costs no new pages, and a picture
// decoded into that memory becomes the result's own lines without a copy.
// `result` must then not outlive `memory`, and copies of it (which own their
// pixels) are made with fipImage's copy.
bool renderReflection(const fipImage& source, fipImage& result, const ReflectionParams& params,
                      PixelMemory* memory = nullptr, QString* error = nullptr);

// The size of the result that renderReflection makes of a picture of that
// size, with its margin already taken away where the contact edge is on.
QSize reflectionResultSize(int width, int height, const ReflectionParams& params);

// The margin the contact edge takes away from `source` at `direction`'s edge,
// in lines: 0 for a picture without one, or that is all margin. Pictures that
// are not 24/32-bit standard bitmaps are looked at as the renderer converts
// them (with `transparent` as its mode).
int contactMargin(const fipImage& source, Direction direction, bool transparent);

// The size of the result of `source` with `params`, its margin taken into account.
QSize reflectionResultSize(const fipImage& source, const ReflectionParams& params);
