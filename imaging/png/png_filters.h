// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

// PNG's five row filters (none, sub, up, average, Paeth) over whole vectors,
// for the processor the program runs on (png_filters.cpp). filterRow takes
// the raw bytes of a row and of the row above, each with at least 32 zero
// bytes in front (the left neighbours of the first pixel, which the filters
// read as 0), `length` bytes long, `bpp` bytes per pixel.
namespace png_filters {

// The row as the file holds it, into `out`: the byte that names its filter,
// then the row filtered with it. The filter is the one whose bytes have the
// smallest sum of |byte as signed|: libpng's measure.
void filterRow(const std::uint8_t* row, const std::uint8_t* above, std::size_t length,
               std::size_t bpp, std::uint8_t* out);

} // namespace png_filters
