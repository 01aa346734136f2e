// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/pixels/pixel_memory.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct libdeflate_compressor;

// One zlib stream made of bands of bytes deflated independently, on as many
// threads as there are bands at a time:
//
//   band 0 ──deflate──▶ blocks … [last block, BFINAL cleared][empty stored block] ┐
//   band 1 ──deflate──▶ blocks … [last block, BFINAL cleared][empty stored block] ├─ one after
//   band n ──deflate──▶ blocks … [last block, BFINAL kept]                        ┘  the other
//
// after a zlib header, with the Adler-32 of all bands at the end.
// Each band starts with an empty history, which costs a few hundred bytes per
// band, and all but the last are walked once (deflate_walk.h) to find where
// their last block starts and where their last bit lies.
struct DeflatedBand {
    std::vector<std::uint8_t> deflated; // raw deflate, its last block marked final
    std::uint64_t lastBlockBit = 0;     // where the last block's header starts
    std::uint64_t endBit = 0;           // the bit after the last block's end
    std::uint32_t adler = 1;            // Adler-32 of the band's bytes
    std::size_t size = 0;               // the band's bytes before deflating
};

// Deflates `data` with `compressor` by way of `scratch`; throws std::bad_alloc
// when memory is short and std::runtime_error when the band cannot be walked.
// The stream's last band is not walked: its blocks end the stream as they are.
DeflatedBand deflateBand(libdeflate_compressor* compressor, const std::uint8_t* data,
                         std::size_t size, bool lastOfStream, PixelBlock& scratch);

// The bands, in order, as one zlib stream whose header names `level`: each
// band's bytes are made as soon as it is its turn, so that the stream can go
// to its file while later bands are still deflated.
class ZlibJoin {
public:
    // Appends the stream's header to `out`.
    ZlibJoin(int level, std::vector<std::uint8_t>& out);
    // Appends to `out` what `band` adds to the stream, and after the last band
    // the checksum.
    void add(const DeflatedBand& band, bool last, std::vector<std::uint8_t>& out);

private:
    std::uint32_t adler_ = 1;
};

struct CompressorDeleter {
    void operator()(libdeflate_compressor* compressor) const;
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorDeleter>;
Compressor makeCompressor(int level);

// Big-endian, as PNG and zlib store their numbers.
void putBigEndian(std::uint8_t* at, std::uint32_t value);
