#pragma once

#include <QByteArray>

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
// A buffer that grows without clearing, for bytes written before they are read.
class ScratchBuffer {
public:
    std::uint8_t* reserve(std::size_t size)
    {
        if (size > capacity) {
            bytes.reset(new std::uint8_t[size]);
            capacity = size;
        }
        return bytes.get();
    }

private:
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t capacity = 0;
};

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
                         std::size_t size, bool lastOfStream, ScratchBuffer& scratch);

// The bands, in order, as one zlib stream; its header names `level`.
QByteArray joinZlibStream(const std::vector<DeflatedBand>& bands, int level);

struct CompressorDeleter {
    void operator()(libdeflate_compressor* compressor) const;
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorDeleter>;
Compressor makeCompressor(int level);

// Big-endian, as PNG and zlib store their numbers.
void putBigEndian(std::uint8_t* at, std::uint32_t value);

// `data` as one zlib stream in one piece; empty when the compressor cannot be had.
QByteArray zlibCompress(const void* data, std::size_t size, int level);
