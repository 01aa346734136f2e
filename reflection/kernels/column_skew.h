// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The skew of a strip beside the picture (left and right), whose lines run
// across the result's rows: each result row reads the unskewed rows at and
// above it (further into the bitmap). From the bottom row up, a ring of the
// unskewed rows takes each row |S| + 1 rows before the result row at it,
// keeping it, piece of columns by piece, until the last result row that
// reads it there, and the result row's runs of one whole shift are
// gathered from the ring, mixed, and given their opacity and fade on their
// way into the result.
//
// The strip is swept in bands of columns, each band on one of the kept
// threads with a ring of its own, which stays in the cache. Without a blur
// each ring's rows are mirrored from the picture's rows, and the first band's
// sweep writes the rest of each result row that shows a picture row just
// before, so that its mirror finds the row in the cache. A blurred strip, in
// the result already, is skewed after the rest is written.

#include "imaging/pixels/work_share.h"
#include "reflection/kernels/fade_kernel.h"
#include "reflection/kernels/reflection_pixels.h"
#include "reflection/kernels/strip_skew.h"
#include "reflection/kernels/strip_skew_hwy.h"

#include <algorithm>
#include <atomic>
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
          along_(std::abs(f.skew))
    {
        const int strip = f.strip;
        shifts_.resize(std::size_t(strip));
        weights_.resize(std::size_t(strip) * DB);
        for (int u = 0; u < strip; ++u) {
            shifts_[std::size_t(u)] = strip_skew::shiftOf(left ? strip - 1 - u : u, strip, f.skew);
            std::memset(&weights_[std::size_t(u) * DB], shifts_[std::size_t(u)].fraction, DB);
        }
        // Bands of columns, one thread's each: a blurred strip's as many as
        // the threads or a multiple of them; else two for each thread, so
        // that the others take more while the first band's thread writes
        // the rest of the rows too.
        int threads = int(std::min(workBudget(), 8u));
        int bands = together() ? 2 * threads - 1 : (strip + bandPixels - 1) / bandPixels;
        bands = std::min((bands + threads - 1) / threads * threads, (strip + 63) / 64);
        band_ = ((strip + bands - 1) / bands + 15) / 16 * 16;
        threads = std::min(threads, (strip + band_ - 1) / band_);
        std::size_t ringBytes = 0;
        for (int from = 0; from < strip; from += band_) {
            const int count = std::min(strip - from, band_);
            bandRuns_.push_back(strip_skew::runEnds(shifts_.data() + from, count, piecePixels));
            ringBytes = std::max(ringBytes, piecesOf(from, count, nullptr));
        }
        const std::size_t bandBytes = std::size_t(band_) * DB;
        workers_.resize(std::size_t(threads));
        for (Worker& worker : workers_) {
            // A run's last vector may read past its piece's last line.
            worker.ring.resize(ringBytes + 256);
            worker.pieces.reserve(std::size_t((band_ + piecePixels - 1) / piecePixels));
            worker.runLines.resize(std::size_t(band_));
            worker.runSteps.resize(std::size_t(band_));
            for (std::vector<Byte>& row : worker.gathered)
                row.resize(bandBytes);
        }
        backgroundRow_.resize(bandBytes);
        for (std::size_t at = 0; at < bandBytes; at += DB)
            std::memcpy(&backgroundRow_[at], background, DB);
    }

    // Whether the sweep writes the result rows that show a picture row
    // (writeRow(i) for scan line i, with the strip's first band), rather
    // than finding them written.
    bool together() const { return f_.blur == 0; }

    // The strip's every row; `finish(mix, from, to, out)` gives the mix of
    // the strip's columns from..to-1 its opacity and fade on its way into the
    // result at `out`. `byAlpha`: transparency mode.
    template <class WriteRow, class Finish>
    void sweep(bool byAlpha, const WriteRow& writeRow, const Finish& finish)
    {
        std::atomic<int> next{0};
        const int bands = int(bandRuns_.size());
        shareWork(unsigned(workers_.size()), [&](unsigned index) {
            for (int band = next++; band < bands; band = next++)
                sweepBand(band * band_, workers_[index], byAlpha, writeRow, finish);
            fade_kernel::streamsDone(); // this thread's copies past the cache
        });
    }

private:
    static constexpr int bandPixels = 1024;
    // Each piece of a band keeps only as many lines as its least shifted
    // column still needs: about half the lines of one ring across the band,
    // which then stays in the second-level cache.
    static constexpr int piecePixels = 64;

    // A ring of one piece's lines: scan line m's pixels of the piece at
    // first + (m % slots) * bytes.
    struct Piece {
        Byte* first;
        Byte* end;    // first + slots * bytes
        Byte* taking; // where the next line taken goes
        int from;     // the piece's first column in the band
        int width;
        std::size_t bytes; // of a line
    };

    // A run's ring as the run sees it: its first line, its end, and a line's bytes.
    struct RunStep {
        const Byte* ringStart;
        const Byte* ringEnd;
        std::size_t bytes;
    };

    // What one thread sweeps its bands with.
    struct Worker {
        std::vector<Byte> ring;
        std::vector<Piece> pieces; // the current band's
        std::vector<const Byte*> runLines;
        std::vector<RunStep> runSteps;
        // A row's first and second pixels of the mix (the second are the next
        // row's first), and the mix before its opacity and fade.
        std::vector<Byte> gathered[3];
    };

    // The band of columns from `from`, every row.
    template <class WriteRow, class Finish>
    void sweepBand(int from, Worker& w, bool byAlpha, const WriteRow& writeRow,
                   const Finish& finish)
    {
        const Frame& f = f_;
        const int base = f.skew < 0 ? along_ : 0; // where the picture starts
        const int to = std::min(f.strip, from + band_);
        piecesOf(from, to - from, &w);
        const std::vector<int>& runEnds = bandRuns_[std::size_t(from / band_)];
        const int runs = startRuns(from, runEnds, w);
        const Byte* mirror = f.srcBits + std::ptrdiff_t(stripFirstSource_ - from) * SB;
        // The next row the ring takes, as a scan line; those beyond the
        // picture are background, as are the ring's lines at the start.
        int next = along_;
        for (int i = 0; i < f.outHeight; ++i) {
            for (; next <= i + along_ + 1; ++next) {
                const bool picture = next < along_ + f.height;
                // The rest of the row first: it reads the picture's row
                // in order, which the mirror then finds in the cache.
                if (together() && from == 0 && picture)
                    writeRow(next - base);
                for (Piece& piece : w.pieces) {
                    if (!picture)
                        std::memcpy(piece.taking, backgroundRow_.data(), piece.bytes);
                    else if (f.blur > 0)
                        std::memcpy(piece.taking,
                                    f.outBits + next * f.outPitch +
                                        std::size_t(stripLeft_ + from + piece.from) * DB,
                                    piece.bytes);
                    else
                        strip_skew::mirrorRunVector(mirror + (next - along_) * f.srcPitch -
                                                        std::ptrdiff_t(piece.from) * SB,
                                                    piece.taking, piece.width, SB, DB);
                    piece.taking += piece.bytes;
                    if (piece.taking == piece.end)
                        piece.taking = piece.first;
                }
            }
            std::vector<Byte>& first = w.gathered[i % 2];
            std::vector<Byte>& second = w.gathered[(i + 1) % 2];
            for (int line = i == 0 ? 0 : 1; line < 2; ++line) {
                strip_skew::gatherRunsVector(w.runLines.data(), runEnds.data(), runs, DB,
                                             (line ? second : first).data());
                nextRow(runs, w);
            }
            // A 24-bit picture's rows have one alpha: only rows beside the
            // background weigh by it.
            const bool weighed = byAlpha && (SB == 4 || i < along_ || i + 1 >= f.height);
            strip_skew::blendAcross(first.data(), second.data(),
                                    weights_.data() + std::size_t(from) * DB, to - from, DB,
                                    weighed, w.gathered[2].data());
            finish(w.gathered[2].data(), from, to,
                   f.outBits + i * f.outPitch + std::size_t(stripLeft_ + from) * DB);
        }
    }

    // The rings of the pieces of the band of `count` columns from `from`,
    // laid one after the other from the start of the worker's ring, full of
    // background; gives their bytes, and only counts them without a worker.
    // The ring takes a line |S| + 1 scan lines before the result row at it,
    // and a piece whose least whole shift is k reads it last k scan lines
    // after it.
    std::size_t piecesOf(int from, int count, Worker* w)
    {
        if (w)
            w->pieces.clear();
        std::size_t bytes = 0;
        for (int at = 0; at < count; at += piecePixels) {
            const int width = std::min(piecePixels, count - at);
            const int least = std::min(shifts_[std::size_t(from + at)].whole,
                                       shifts_[std::size_t(from + at + width - 1)].whole);
            const int slots = along_ + 2 - least;
            const std::size_t lineBytes = std::size_t(width) * DB;
            if (w) {
                Byte* first = w->ring.data() + bytes;
                for (int slot = 0; slot < slots; ++slot)
                    std::memcpy(first + slot * lineBytes, backgroundRow_.data(), lineBytes);
                w->pieces.push_back({first, first + slots * lineBytes,
                                     first + (along_ % slots) * lineBytes, at, width, lineBytes});
            }
            bytes += std::size_t(slots) * lineBytes;
        }
        return bytes;
    }

    // Each run's line for scan line 0, which a run of columns with whole
    // shift k reads at scan line k, given as its piece's line less the
    // piece's start so that the run's bytes lie at their place in the row;
    // gives the number of runs.
    int startRuns(int from, const std::vector<int>& runEnds, Worker& w)
    {
        int u = 0, runs = 0;
        for (const int end : runEnds) {
            const Piece& piece = w.pieces[std::size_t(u / piecePixels)];
            const std::size_t slots = std::size_t(piece.end - piece.first) / piece.bytes;
            const std::size_t k = std::size_t(shifts_[std::size_t(from + u)].whole);
            w.runLines[std::size_t(runs)] =
                piece.first + (k % slots) * piece.bytes - std::ptrdiff_t(piece.from) * DB;
            const Byte* ringStart = piece.first - std::ptrdiff_t(piece.from) * DB;
            w.runSteps[std::size_t(runs++)] = {ringStart, ringStart + (piece.end - piece.first),
                                               piece.bytes};
            u = end;
        }
        return runs;
    }

    // Every run's line one scan line on: the next slot of its piece's ring.
    void nextRow(int runs, Worker& w)
    {
        for (int r = 0; r < runs; ++r) {
            const RunStep& step = w.runSteps[std::size_t(r)];
            const Byte* line = w.runLines[std::size_t(r)] + step.bytes;
            w.runLines[std::size_t(r)] = line == step.ringEnd ? step.ringStart : line;
        }
    }

    const Frame& f_;
    int stripLeft_;
    int stripFirstSource_;
    int along_;
    int band_ = 0;
    std::vector<strip_skew::Shift> shifts_;
    std::vector<Byte> weights_;              // each column's fraction, one a byte
    std::vector<std::vector<int>> bandRuns_; // each band's runs of one whole shift
    std::vector<Worker> workers_;
    std::vector<Byte> backgroundRow_;
};

} // namespace reflection_pixels
