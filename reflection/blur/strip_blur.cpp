// SPDX-License-Identifier: GPL-3.0-or-later
#include "reflection/blur/strip_blur.h"

#include "imaging/pixels/work_share.h"
#include "reflection/blur/blur_passes.h"
#include "reflection/blur/strip_blocks.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace {

using namespace blur_passes;

// Lanes per band of the passes across lines: nine cache lines of each line,
// and the passes' rings stay in the second-level cache (128 lanes cost a
// third more: more time goes to each line's start than to its lanes). A
// multiple of 3 and 4, so that a band holds whole pixels.
constexpr int bandLanes = 576;

// The half-width of every box pass on line t, in 1/256 pixel.
int blurHalfWidth256(int t, int lines, int blur)
{
    const double radius = double(blur) * t / (lines - 1);
    return int(std::lround(256.0 * (std::sqrt(1.0 + radius * radius) - 1.0) / 2.0));
}

} // namespace

bool StripBlur::prepare(const StripView& mirror, const StripView& strip, int blur, BlurAlpha alpha)
{
    mirror_ = mirror;
    strip_ = strip;
    active_ = false;
    const int lines = strip.lines;
    const int width = strip.width;
    const int c = strip.channels;
    // Alpha left alone is not blurred at all: three bytes a pixel.
    const int channels = c == 4 && alpha == BlurAlpha::Premultiplied ? 4 : 3;
    const int lanes = width * channels;
    if (lines < 2 || width < 1 || blur <= 0)
        return true;
    blur = std::min(blur, largestStripBlur);
    try {
        h256_.assign(std::size_t(lines), 0);
        for (int t = 0; t < lines; ++t)
            h256_[std::size_t(t)] = blurHalfWidth256(t, lines, blur);

        // Lines whose pixels lie side by side as the blur takes them are
        // worked on where they are; others are copied into lines and back.
        // A line copied in may be written a byte beyond its end.
        inPlace_ = strip.pixelStep == c && c == channels;
        const auto rounded = [](std::size_t bytes) { return (bytes + 63) / 64 * 64; };
        const std::size_t lineBytes = rounded(std::size_t(lanes) + 1);
        const std::size_t copyBytes = inPlace_ ? 0 : std::size_t(lines) * lineBytes;

        // A small strip is not worth a thread's start.
        const std::size_t values = std::size_t(lines) * std::size_t(lanes);
        const int threads = values < (std::size_t(1) << 15) ? 1 : int(std::min(workBudget(), 8u));
        // Each thread's scratch, for the passes along its lines and then
        // across its bands; the widest half-width is the last line's.
        ringLines_ = acrossRingLines(h256_.data(), lines);
        const std::size_t scratchBytes =
            rounded(std::max(alongScratchBytes(width, channels, h256_.back()),
                             acrossScratchBytes(ringLines_, bandLanes)));
        if (!memory_.reserve(copyBytes + std::size_t(threads) * scratchBytes))
            throw std::bad_alloc();

        lines_ = strip;
        if (!inPlace_)
            lines_ = {memory_.data(), std::ptrdiff_t(lineBytes), channels, lines, width, channels};
        firstLine_.resize(std::size_t(lanes));
        scratch_.resize(std::size_t(threads));
        for (int i = 0; i < threads; ++i)
            scratch_[std::size_t(i)] = memory_.data() + copyBytes + std::size_t(i) * scratchBytes;
    } catch (const std::bad_alloc&) {
        return false;
    }
    active_ = true;
    return true;
}

// Lines from..to-1: brought from the mirror (rows straight from it, columns
// copied into lines first), then blurred along.
void StripBlur::prepareLines(int from, int to, Byte* scratch)
{
    const bool rows = strip_.pixelStep == strip_.channels;
    if (!rows)
        strip_blocks::copyIn(mirror_, lines_, from, to);
    const StripView& source = rows ? mirror_ : lines_;
    // The line touching the picture is not blurred; premultiplying would
    // still lose the colour of its transparent pixels.
    if (from == 0 && lines_.channels == 4)
        std::memcpy(firstLine_.data(), source.line(0), firstLine_.size());
    for (int t = from; t < to; ++t)
        blurAlong(source.line(t), source.channels, lines_.line(t), strip_.width, lines_.channels,
                  h256_[std::size_t(t)], scratch);
}

// Lines from..to-1: line 0 put back as it was (the passes across lines have
// brought the others back from premultiplied), and lines worked on elsewhere
// copied into the strip: columns in blocks, rows given their alpha back.
void StripBlur::finishLines(int from, int to)
{
    if (from == 0 && lines_.channels == 4)
        std::memcpy(lines_.first, firstLine_.data(), firstLine_.size());
    if (strip_.pixelStep != strip_.channels) {
        strip_blocks::copyOut(mirror_, strip_, lines_, from, to);
    } else if (!inPlace_) {
        for (int t = from; t < to; ++t)
            addAlpha(lines_.line(t), mirror_.channels == 4 ? mirror_.line(t) : nullptr,
                     strip_.line(t), strip_.width);
    }
}

void StripBlur::then(int count, std::function<void(int, int)> work)
{
    afterCount_ = count;
    after_ = std::move(work);
}

void StripBlur::thenByPiece(std::function<void(int, int, int, int)> work)
{
    piece_ = std::move(work);
}

void StripBlur::run()
{
    const int stripBytes = strip_.width * strip_.channels;
    if (!active_) {
        if (after_)
            after_(0, afterCount_);
        if (piece_)
            piece_(0, strip_.lines, 0, stripBytes);
        return;
    }
    const int lines = strip_.lines;
    const int lanes = strip_.width * lines_.channels;
    const int threads = int(scratch_.size());

    // Each step hands its lines (or its bands, in whole bands) out in pieces,
    // a few per thread, as the threads ask for them: on a busy machine a
    // thread that runs late takes fewer. A thread that cannot be started
    // leaves its pieces to the others (work_share.h).
    // The pieces shrink as the work runs out (each takes a share of what is
    // left), so that the threads finish a step together.
    const auto share = [&](int count, int unit, const auto& work) {
        std::atomic<int> next{0};
        shareWork(unsigned(threads), [&](unsigned index) {
            int from = next.load();
            for (;;) {
                int piece = 0;
                do {
                    if (from >= count)
                        return;
                    const int unitsLeft = (count - from + unit - 1) / unit;
                    piece = unit * std::max(1, unitsLeft / (threads * 3));
                } while (!next.compare_exchange_weak(from, from + piece));
                work(from, std::min(count, from + piece), scratch_[index]);
                from = next.load();
            }
        });
    };
    share(lines, 1, [this](int from, int to, Byte* scratch) { prepareLines(from, to, scratch); });
    // Bands of columns are blurred across the lines where they lie. Pieces
    // follow each band where the bands are the strip's own rows, but for line
    // 0, put back later; otherwise each line, once it is in the strip.
    const bool byBand = piece_ && inPlace_;
    share(lanes, bandLanes, [this, byBand, lines](int from, int to, Byte* scratch) {
        for (int first = from; first < to; first += bandLanes) {
            const int band = std::min(bandLanes, to - first);
            blurAcross(lines_.first + first, lines_.lineStep, lines, band, h256_.data(), ringLines_,
                       scratch, lines_.channels == 4);
            if (byBand)
                piece_(1, lines, first, first + band);
        }
    });
    share(lines, 1, [this, byBand, stripBytes](int from, int to, Byte*) {
        finishLines(from, to);
        if (piece_ && !byBand)
            piece_(from, to, 0, stripBytes);
        else if (piece_ && from == 0)
            piece_(0, 1, 0, stripBytes);
    });
    if (after_)
        share(afterCount_, 1, [this](int from, int to, Byte*) { after_(from, to); });
}

void StripBlur::start()
{
    if (active_)
        background_ = std::make_unique<BackgroundWork>([this] { run(); });
    else
        run();
}
