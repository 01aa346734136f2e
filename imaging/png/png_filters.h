// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

// PNG's five row filters (none, sub, up, average, Paeth) over whole vectors,
// for the processor the program runs on (png_filters.cpp). Both functions
// take the raw bytes of a row and of the row above, each with at least 32
// zero bytes in front (the left neighbours of the first pixel, which the
// filters read as 0), `length` bytes long, `bpp` bytes per pixel.
namespace png_filters {

// The sum of |filtered byte as signed| for each filter: libpng's measure.
void sum(const std::uint8_t* row, const std::uint8_t* above, std::size_t length, std::size_t bpp,
         std::uint64_t sums[5]);
// The row filtered with `filter` into `out`.
void apply(int filter, const std::uint8_t* row, const std::uint8_t* above, std::size_t length,
           std::size_t bpp, std::uint8_t* out);

} // namespace png_filters
