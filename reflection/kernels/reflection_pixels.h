// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The building blocks of the renderer's kernels (reflection_kernels.cpp):
// pixel loads and stores, copies of runs of pixels in order, the
// exact fade of a run of bytes (in vectors: fade_kernel.h), the opacity, the
// gap's pixels. Included by reflection_kernels.cpp only.

#include "imaging/pixels/pixel_words.h"
#include "reflection/kernels/fade_kernel.h"
#include "reflection/kernels/reflection_kernels.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace reflection_pixels {

using namespace pixel_words;

enum class Fade { Colour, Alpha };

// Bytes the render does not read again are written with stores that bypass
// the cache where the processor has them: an ordinary store first fetches the
// whole cache line from memory, only to overwrite it.
using fade_kernel::streamCopy;

// n pixels copied in order, with streaming stores when `stream`. 24-bit
// pixels widened to 32 bits get `alpha`.
template <int SB, int DB, bool stream = false>
void copyRun(const Byte* src, Byte* dst, int n, Byte alpha = 0xFF)
{
    if constexpr (SB == DB) {
        if (stream)
            streamCopy(dst, src, std::size_t(n) * SB);
        else
            std::memcpy(dst, src, std::size_t(n) * SB);
    } else {
        static_assert(SB == 3 && DB == 4);
        if (stream)
            fade_kernel::streamWiden(src, dst, n, alpha);
        else
            pixel_words::widen(src, dst, n, alpha);
    }
}

using fade_kernel::longestVectorFade;
using fade_kernel::multiplier;

struct Fader {
    int f = 0; // F, the number of faded lines
    fade_kernel::Shape shape;

    Fader(int faded, const int c[3], Fade fade, int bytesPerPixel) : f(faded)
    {
        shape.bytesPerPixel = bytesPerPixel;
        shape.alphaFades = fade == Fade::Alpha;
        for (int i = 0; i < 3; ++i)
            shape.colour[i] = c[i];
    }
};

// Fades n bytes of DB-byte pixels from src into dst (which may be src). The
// strength is k for every pixel, or with `lanes` kFirst + pixel * kStep, which
// kLanes and mLanes (their multipliers) hold byte by byte. With `opacityK` >= 0
// the bytes are first given the opacity of that strength over 100, in the
// same step (0 < opacityK < 100).
template <int DB, Fade fade, bool lanes, bool stream = false>
void fadeBytes(const Fader& fader, const Byte* src, Byte* dst, int n, int kFirst, int kStep,
               const std::uint16_t* kLanes, const std::uint16_t* mLanes, int opacityK = -1)
{
    fade_kernel::Strength strength;
    strength.f = fader.f;
    strength.kFirst = kFirst;
    strength.kStep = lanes ? kStep : 0;
    strength.kLanes = lanes ? kLanes : nullptr;
    strength.mLanes = lanes ? mLanes : nullptr;
    strength.opacityK = opacityK;
    fade_kernel::fade(fader.shape, strength, src, dst, std::size_t(n), stream);
}

// The strength of strip line s (s = F - 1 on the first faded line, 0 at the
// outer edge).
template <Fade fade> int strength(int s, int f)
{
    return fade == Fade::Colour ? f - 1 - s : s;
}

using Frame = ReflectionFrame;

// The opacity is a fade of one strength over the whole strip, with 100 in
// place of F: colour mode moves (100 - O) % towards the colour, transparency
// mode keeps O % of the alpha.
template <int DB, Fade fade> struct Opacity {
    Fader fader;
    int k = 0;
    bool active = false;
    explicit Opacity(const Frame& f)
        : fader(100, f.colour, fade, DB), k(fade == Fade::Colour ? 100 - f.opacity : f.opacity),
          active(f.opacity < 100)
    {
    }
    // The strength a fade takes to give the opacity in the same step, -1 when
    // the opacity is its own step (none, or opacity 0 in colour mode).
    int beforeFade() const { return active && k < 100 ? k : -1; }
    template <bool stream = false> void apply(const Byte* src, Byte* dst, int bytes) const
    {
        fadeBytes<DB, fade, false, stream>(fader, src, dst, bytes, k, 0, nullptr, nullptr);
    }
};

// Strip line s of a run of `bytes` from src into dst (which may be src): its
// opacity and, when s < F, its fade, in one step where the fade can take the
// opacity with it. Otherwise the opacity goes into `scratch` first (which may
// be src or dst), when the opacity is active.
template <int DB, Fade fade, bool stream = false>
void finishLine(const Fader& fader, const Opacity<DB, fade>& opacity, const Byte* src, Byte* dst,
                int bytes, int s, Byte* scratch)
{
    if (s >= fader.f) {
        if (opacity.active)
            opacity.template apply<stream>(src, dst, bytes);
        else if (src != dst)
            copyRun<DB, DB, stream>(src, dst, bytes / DB);
        return;
    }
    if (opacity.active && opacity.beforeFade() < 0) {
        opacity.apply(src, scratch, bytes);
        src = scratch;
    }
    fadeBytes<DB, fade, false, stream>(fader, src, dst, bytes, strength<fade>(s, fader.f), 0,
                                       nullptr, nullptr, opacity.beforeFade());
}

// `count` pixels of the gap: the background colour, opaque, in colour mode;
// all 0 in transparency mode.
template <int DB, Fade fade> std::vector<Byte> gapPixels(const Frame& f, int count)
{
    std::vector<Byte> pixels(std::size_t(count) * DB, 0);
    if (fade == Fade::Colour) {
        for (int x = 0; x < count; ++x) {
            for (int c = 0; c < 3; ++c)
                pixels[std::size_t(x) * DB + c] = Byte(f.colour[c]);
            if (DB == 4)
                pixels[std::size_t(x) * DB + 3] = 0xFF;
        }
    }
    return pixels;
}

template <int DB> void zeroPadding(Byte* line, const Frame& f)
{
    const std::size_t used = std::size_t(f.outWidth) * DB;
    std::memset(line + used, 0, std::size_t(f.outPitch) - used);
}

} // namespace reflection_pixels
