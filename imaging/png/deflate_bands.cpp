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
                         std::size_t size, bool lastOfStream, ScratchBuffer& scratch)
{
    DeflatedBand band;
    band.size = size;
    const std::size_t bound = libdeflate_deflate_compress_bound(compressor, size);
    std::uint8_t* out = scratch.reserve(bound);
    const std::size_t written = libdeflate_deflate_compress(compressor, data, size, out, bound);
    if (written == 0)
        throw std::runtime_error("band did not deflate");
    std::vector<std::uint8_t>& deflated = band.deflated;
    deflated.assign(out, out + written);
    band.adler = std::uint32_t(libdeflate_adler32(1, data, size));
    if (lastOfStream) {
        band.endBit = std::uint64_t(deflated.size()) * 8;
        return band;
    }
    DeflateEnds ends;
    if (!walkDeflate(deflated.data(), deflated.size(), size, &ends))
        throw std::runtime_error("deflated band does not walk");
    band.lastBlockBit = ends.lastBlockBit;
    band.endBit = ends.endBit;
    return band;
}

QByteArray joinZlibStream(const std::vector<DeflatedBand>& bands, int level)
{
    // After each band but the last, an empty stored block (three zero bits, the
    // padding to a byte, then length 0 and its complement) brings the stream
    // to a byte boundary, where the next band's blocks begin as they were
    // made: a stored block among them only reads right at its own alignment.
    auto joinedBytes = [&bands](std::size_t i) {
        const DeflatedBand& band = bands[i];
        return i + 1 < bands.size() ? std::size_t((band.endBit + 3 + 7) / 8) + 4
                                    : std::size_t((band.endBit + 7) / 8);
    };
    std::size_t deflateBytes = 0;
    for (std::size_t i = 0; i < bands.size(); ++i)
        deflateBytes += joinedBytes(i);
    QByteArray stream(qsizetype(2 + deflateBytes + 4), Qt::Uninitialized);
    auto* out = reinterpret_cast<std::uint8_t*>(stream.data());

    // The header: deflate with a 32 KB window, and the level as zlib names it.
    const int levelClass = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
    out[0] = 0x78;
    out[1] = std::uint8_t(levelClass << 6);
    out[1] = std::uint8_t(out[1] + 31 - (out[0] * 256 + out[1]) % 31);

    std::uint8_t* at = out + 2;
    std::uint32_t adler = 1;
    for (std::size_t i = 0; i < bands.size(); ++i) {
        const DeflatedBand& band = bands[i];
        const std::size_t bytes = std::size_t((band.endBit + 7) / 8);
        std::memcpy(at, band.deflated.data(), bytes);
        if (band.endBit % 8) // the padding after the last block, zero for the stored block's header
            at[bytes - 1] &= std::uint8_t((1u << (band.endBit % 8)) - 1);
        if (i + 1 < bands.size()) {
            at[band.lastBlockBit / 8] &= std::uint8_t(~(1u << (band.lastBlockBit % 8)));
            std::uint8_t* length = at + joinedBytes(i) - 4;
            std::memset(at + bytes, 0, std::size_t(length - (at + bytes)) + 2);
            length[2] = length[3] = 0xFF;
        }
        at += joinedBytes(i);
        adler = std::uint32_t(adler32_combine(adler, band.adler, z_off_t(band.size)));
    }
    putBigEndian(at, adler);
    return stream;
}

QByteArray zlibCompress(const void* data, std::size_t size, int level)
{
    Compressor compressor(libdeflate_alloc_compressor(level));
    if (!compressor)
        return {};
    QByteArray stream(qsizetype(libdeflate_zlib_compress_bound(compressor.get(), size)),
                      Qt::Uninitialized);
    const std::size_t written = libdeflate_zlib_compress(compressor.get(), data, size,
                                                         stream.data(), std::size_t(stream.size()));
    stream.truncate(qsizetype(written));
    return stream;
}
