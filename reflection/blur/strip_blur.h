// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The blur of the reflection strip, the renderer's one pass beyond its single
// sweep over the result. reflection_renderer.h gives the blur's definition.

#include "imaging/pixels/pixel_memory.h"
#include "imaging/pixels/work_share.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// The strip as `lines` lines of `width` pixels of `channels` (3 or 4) bytes:
// line t = 0 touches the picture, pixel u of line t starts at
// first + t * lineStep + u * pixelStep.
struct StripView {
    std::uint8_t* first = nullptr;
    std::ptrdiff_t lineStep = 0;
    std::ptrdiff_t pixelStep = 0;
    int lines = 0;
    int width = 0;
    int channels = 3;

    std::uint8_t* line(int t) const { return first + t * lineStep; }
};

enum class BlurAlpha {
    Untouched,     // alpha bytes are left alone: colour mode, or all of them 255
    Premultiplied, // transparency mode: colours are weighted by their alpha
};

// Larger blurs act as this one: the running sums are 16-bit.
constexpr int largestStripBlur = 200;

// Blurs the mirror into the strip: its lines are read from the picture and
// written only into the strip. Everything it needs is allocated by prepare(),
// so that a render can fail for want of memory before it writes its first
// byte.
class StripBlur {
public:
    // `mirror` has the strip's lines and width; its pixels have 3 or 4 bytes
    // (the strip's alpha is 255 where they have 3). False when memory runs
    // out. Needs a blur above 0 and two lines or more: otherwise it prepares
    // to do nothing, and writes nothing into the strip.
    bool prepare(const StripView& mirror, const StripView& strip, int blur, BlurAlpha alpha);
    void run();
    // run() on one of the kept threads (or in finish() when none can be had),
    // so that the caller can write what lies outside the strip meanwhile;
    // finish() waits for it.
    void start();
    void finish() { background_.reset(); }
    // Work that follows the blur, shared out between the blur's threads in
    // ranges of 0..count-1; set before run() or start().
    void then(int count, std::function<void(int from, int to)> work);
    // Or work on pieces of the strip's lines: lines from..to-1, bytes
    // fromByte..toByte-1 of each (whole pixels of the strip), each piece
    // handed over as soon as it is blurred, while it is still in the cache.
    // The pieces cover every line once.
    void thenByPiece(std::function<void(int from, int to, int fromByte, int toByte)> work);
    ~StripBlur() { finish(); }

private:
    StripView mirror_;
    StripView strip_;
    bool inPlace_ = true;
    bool active_ = false;
    int ringLines_ = 1;
    std::vector<int> h256_;
    // The lines blurred: the strip's own where its pixels lie as the blur
    // takes them, else copies in memory_, which holds the threads' scratch
    // memory too. Their pixels have 4 bytes only when alpha is blurred too.
    StripView lines_;
    PixelBlock memory_;
    std::vector<std::uint8_t> firstLine_; // line 0, kept exactly
    // Each thread's scratch memory: the strip's lines, then its bands of
    // columns, are shared out between the cores, and each step has the
    // memory to itself.
    std::vector<std::uint8_t*> scratch_;
    std::unique_ptr<BackgroundWork> background_;
    int afterCount_ = 0;
    std::function<void(int, int)> after_;
    std::function<void(int, int, int, int)> piece_;

    void prepareLines(int from, int to, std::uint8_t* scratch);
    void finishLines(int from, int to);
};
