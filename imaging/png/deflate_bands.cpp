// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/png/deflate_bands.h"
#include "imaging/png/deflate_walk.h"

#include <libdeflate.h>
#include <zlib.h>

#include <cstring>
#include <new>
#include <stdexcept>

void putBigEndian(std::uint8_t* at, std::uint32_t value)
{
    at[0] = std::uint8_t(value >> 24);
    at[1] = std::uint8_t(value >> 16);
    at[2] = std::uint8_t(value >> 8);
    at[3] = std::uint8_t(value);
}

void CompressorDeleter::operator()(libdeflate_compressor* compressor) const
{
    libdeflate_free_compressor(compressor);
}

Compressor makeCompressor(int level)
{
    Compressor compressor(libdeflate_alloc_compressor(level));
    if (!compressor)
        throw std::bad_alloc();
    return compressor;
}

DeflatedBand deflateBand(libdeflate_compressor* compressor, const std::uint8_t* data,
                         std::size_t size, bool lastOfStream, PixelBlock& scratch)
{
    DeflatedBand band;
    band.size = size;
    const std::size_t bound = libdeflate_deflate_compress_bound(compressor, size);
    if (!scratch.reserve(bound))
        throw std::bad_alloc();
    const std::size_t written =
        libdeflate_deflate_compress(compressor, data, size, scratch.data(), bound);
    if (written == 0)
        throw std::runtime_error("band did not deflate");
    band.deflated.assign(scratch.data(), scratch.data() + written);
    band.adler = std::uint32_t(libdeflate_adler32(1, data, size));
    if (lastOfStream)
        band.endBit = std::uint64_t(written) * 8;
    else if (!walkDeflate(band.deflated.data(), written, size, &band.lastBlockBit, &band.endBit))
        throw std::runtime_error("deflated band does not walk");
    return band;
}

ZlibJoin::ZlibJoin(int level, std::vector<std::uint8_t>& out)
{
    // Deflate with a 32 KB window, and the level as zlib names it (fastest,
    // fast, default, best), with the check bits that make the pair a
    // multiple of 31.
    static constexpr std::uint8_t levelBytes[4] = {0x01, 0x5E, 0x9C, 0xDA};
    out.push_back(0x78);
    out.push_back(levelBytes[level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3]);
}

void ZlibJoin::add(const DeflatedBand& band, bool last, std::vector<std::uint8_t>& out)
{
    // After each band but the last, an empty stored block (three zero bits, the
    // padding to a byte, then length 0 and its complement) brings the stream
    // to a byte boundary, where the next band's blocks begin as they were
    // made: a stored block among them only reads right at its own alignment.
    const std::size_t bytes = std::size_t((band.endBit + 7) / 8);
    const std::size_t joined = last ? bytes : std::size_t((band.endBit + 3 + 7) / 8) + 4;
    const std::size_t at = out.size();
    out.resize(at + joined + (last ? 4 : 0), 0);
    std::uint8_t* into = out.data() + at;
    std::memcpy(into, band.deflated.data(), bytes);
    if (band.endBit % 8) // the padding after the last block, zero for the stored block's header
        into[bytes - 1] &= std::uint8_t((1u << (band.endBit % 8)) - 1);
    if (!last) {
        into[band.lastBlockBit / 8] &= std::uint8_t(~(1u << (band.lastBlockBit % 8)));
        into[joined - 2] = into[joined - 1] = 0xFF;
    }
    adler_ = std::uint32_t(adler32_combine(adler_, band.adler, z_off_t(band.size)));
    if (last)
        putBigEndian(into + joined, adler_);
}
