// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The skew of a strip beside the picture (left and right), whose lines run
// across the result's rows: each result row reads the unskewed rows at and
// above it (further into the bitmap). From the bottom row up, a ring of the
// |S| + 2 unskewed rows a result row reads takes each row just before the
// first result row that reads it, and the row's runs of one whole shift are
// gathered from the ring, mixed, and given their opacity and fade on their
// way into the result.
//
// Without a blur the ring takes the whole strip's width, each mirrored from
// the picture's row while the rest of the result row that shows that picture
// row is written from it: every picture row is read from memory once. A
// blurred strip, in the result already, is skewed in bands of columns after
// the rest is written, so that the ring stays in the cache.

#include "reflection/kernels/reflection_pixels.h"
#include "reflection/kernels/strip_skew.h"
#include "reflection/kernels/strip_skew_hwy.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace reflection_pixels {

template <int SB, int DB> class ColumnSkew {
public:
    // `stripLeft`: the strip's first result column; `stripFirstSource`: the
    // picture column its first column mirrors; `background`: one pixel.
    // Everything is allocated here, before the first byte is written.
    ColumnSkew(const Frame& f, bool left, int stripLeft, int stripFirstSource,
               const Byte* background)
        : f_(f), stripLeft_(stripLeft), stripFirstSource_(stripFirstSource),
          along_(std::abs(f.skew)), slots_(along_ + 2)
    {
        const int strip = f.strip;
        shifts_.resize(std::size_t(strip));
        weights_.resize(std::size_t(strip) * DB);
        for (int u = 0; u < strip; ++u) {
            shifts_[std::size_t(u)] = strip_skew::shiftOf(left ? strip - 1 - u : u, strip, f.skew);
            std::memset(&weights_[std::size_t(u) * DB], shifts_[std::size_t(u)].fraction, DB);
        }
        band_ = together() ? strip : std::min(strip, bandPixels);
        for (int from = 0; from < strip; from += band_)
            bandRuns_.push_back(
                strip_skew::runEnds(shifts_.data() + from, std::min(strip - from, band_)));
        const std::size_t bandBytes = std::size_t(band_) * DB;
        ring_.resize(std::size_t(slots_) * bandBytes);
        runLines_.resize(std::size_t(band_));
        for (std::vector<Byte>& row : gathered_)
            row.resize(bandBytes);
        backgroundRow_.resize(bandBytes);
        for (std::size_t at = 0; at < bandBytes; at += DB)
            std::memcpy(&backgroundRow_[at], background, DB);
    }

    // Whether the sweep writes the result rows that show a picture row
    // (writeRow(i) for scan line i), rather than finding them written.
    bool together() const { return f_.blur == 0; }

    // The strip's every row; `finish(mix, from, to, out)` gives the mix of
    // the strip's columns from..to-1 its opacity and fade on its way into the
    // result at `out`. `byAlpha`: transparency mode.
    template <class WriteRow, class Finish>
    void sweep(bool byAlpha, const WriteRow& writeRow, const Finish& finish)
    {
        const Frame& f = f_;
        const int base = f.skew < 0 ? along_ : 0; // where the picture starts
        for (int from = 0; from < f.strip; from += band_) {
            const int to = std::min(f.strip, from + band_);
            const std::size_t bandBytes = std::size_t(to - from) * DB;
            const strip_skew::LineRing rows{ring_.data(), std::ptrdiff_t(bandBytes), slots_};
            const strip_skew::AcrossShifts band{shifts_.data() + from,
                                                weights_.data() + std::size_t(from) * DB, to - from,
                                                bandRuns_[std::size_t(from / band_)].data()};
            const Byte* mirror = f.srcBits + std::ptrdiff_t(stripFirstSource_ - from) * SB;
            int next = along_; // the next unskewed row the ring takes, as a scan line
            for (int i = 0; i < f.outHeight; ++i) {
                for (; next <= i + along_ + 1 && next < along_ + f.height; ++next) {
                    if (f.blur > 0) {
                        std::memcpy(rows.line(next),
                                    f.outBits + next * f.outPitch +
                                        std::size_t(stripLeft_ + from) * DB,
                                    bandBytes);
                        continue;
                    }
                    // The rest of the row first: it reads the picture's row
                    // in order, which the mirror then finds in the cache.
                    if (together())
                        writeRow(next - base);
                    strip_skew::mirrorRunVector(mirror + (next - along_) * f.srcPitch,
                                                rows.line(next), to - from, SB, DB);
                }
                std::vector<Byte>& first = gathered_[i % 2];
                std::vector<Byte>& second = gathered_[(i + 1) % 2];
                for (int line = i == 0 ? 0 : 1; line < 2; ++line)
                    strip_skew::gatherAcross(rows, i + line, along_, along_ + f.height, band, DB,
                                             backgroundRow_.data(), runLines_.data(),
                                             (line ? second : first).data());
                // A 24-bit picture's rows have one alpha: only rows beside the
                // background weigh by it.
                const bool weighed = byAlpha && (SB == 4 || i < along_ || i + 1 >= f.height);
                strip_skew::blendAcross(first.data(), second.data(), band, DB, weighed,
                                        gathered_[2].data());
                finish(gathered_[2].data(), from, to,
                       f.outBits + i * f.outPitch + std::size_t(stripLeft_ + from) * DB);
            }
        }
    }

private:
    static constexpr int bandPixels = 1024;

    const Frame& f_;
    int stripLeft_;
    int stripFirstSource_;
    int along_;
    int slots_;
    int band_ = 0;
    std::vector<strip_skew::Shift> shifts_;
    std::vector<Byte> weights_;              // each column's fraction, one a byte
    std::vector<std::vector<int>> bandRuns_; // each band's runs of one whole shift
    std::vector<Byte> ring_;
    std::vector<const Byte*> runLines_;
    // A row's first and second pixels of the mix (the second are the next
    // row's first), and the mix before its opacity and fade.
    std::vector<Byte> gathered_[3];
    std::vector<Byte> backgroundRow_;
};

} // namespace reflection_pixels
