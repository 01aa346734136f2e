// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoding/cut_png.h"

#include "imaging/decoding/decode_vocabulary.h"

#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <memory>

namespace {

constexpr unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

void appendBigEndian32(QByteArray& out, std::uint32_t value)
{
    const char bytes[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    out.append(bytes, 4);
}

void appendChunk(QByteArray& out, const char* type, const char* data, std::size_t length)
{
    appendBigEndian32(out, std::uint32_t(length));
    const qsizetype start = out.size();
    out.append(type, 4);
    out.append(data, qsizetype(length));
    const auto* typed = reinterpret_cast<const Bytef*>(out.constData() + start);
    appendBigEndian32(out, std::uint32_t(crc32(0, typed, uInt(length + 4))));
}

// Bytes of the filtered rows (a filter byte each) of the whole picture.
std::uint64_t rawBytes(std::uint64_t width, std::uint64_t height, unsigned bitsPerPixel,
                       bool interlaced)
{
    auto rows = [bitsPerPixel](std::uint64_t columns, std::uint64_t count) -> std::uint64_t {
        if (columns == 0 || count == 0)
            return 0;
        return count * (1 + (columns * bitsPerPixel + 7) / 8);
    };
    if (!interlaced)
        return rows(width, height);
    // Adam7: column start and step, row start and step, per pass.
    static const unsigned passes[7][4] = {{0, 8, 0, 8}, {4, 8, 0, 8}, {0, 4, 4, 8}, {2, 4, 0, 4},
                                          {0, 2, 2, 4}, {1, 2, 0, 2}, {0, 1, 1, 2}};
    std::uint64_t total = 0;
    for (const auto& pass : passes) {
        const std::uint64_t columns =
            width > pass[0] ? (width - pass[0] + pass[1] - 1) / pass[1] : 0;
        const std::uint64_t count =
            height > pass[2] ? (height - pass[2] + pass[3] - 1) / pass[3] : 0;
        total += rows(columns, count);
    }
    return total;
}

struct CompressorDeleter {
    void operator()(libdeflate_compressor* compressor) const
    {
        libdeflate_free_compressor(compressor);
    }
};

} // namespace

CompletedPng completeCutPng(const unsigned char* data, std::size_t size, std::size_t maxRawBytes)
{
    CompletedPng completed;
    if (size < 8 + 25 || std::memcmp(data, signature, 8) != 0 ||
        std::memcmp(data + 12, "IHDR", 4) != 0 || bigEndian32(data + 8) != 13)
        return completed;
    const unsigned char* header = data + 16;
    const std::uint64_t width = bigEndian32(header);
    const std::uint64_t height = bigEndian32(header + 4);
    const unsigned depth = header[8];
    const unsigned colourType = header[9];
    const bool interlaced = header[12] == 1;
    static const unsigned channelsOf[7] = {1, 0, 3, 1, 2, 0, 4};
    if (width == 0 || height == 0 || colourType > 6 || channelsOf[colourType] == 0 || depth == 0 ||
        depth > 16)
        return completed;
    const std::uint64_t expected =
        rawBytes(width, height, depth * channelsOf[colourType], interlaced);
    // zlib counts in 32 bits: larger pictures are not made whole.
    if (expected == 0 || expected > maxRawBytes || expected > 0xFFFFFFFFu || size > 0xFFFFFFFFu)
        return completed;

    // The chunks before the pixels stay as they are; the pixel data are gathered.
    QByteArray before;
    QByteArray pixels;
    std::size_t at = 8;
    while (size - at >= 8) {
        const std::uint64_t length = bigEndian32(data + at);
        const unsigned char* type = data + at + 4;
        const std::size_t held = std::size_t(std::min<std::uint64_t>(length, size - at - 8));
        if (std::memcmp(type, "IDAT", 4) == 0) {
            pixels.append(reinterpret_cast<const char*>(data + at + 8), qsizetype(held));
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            break;
        } else if (pixels.isEmpty() && held == length && size - at - 8 - held >= 4) {
            before.append(reinterpret_cast<const char*>(data + at), qsizetype(length + 12));
        } else if (!pixels.isEmpty()) {
            break; // chunks after the pixels are left behind
        }
        if (held < length || size - at - 8 - held < 4)
            break; // the file ends inside this chunk
        at += 12 + std::size_t(length);
    }
    if (pixels.isEmpty())
        return completed;

    // As many rows as inflate from the data there are.
    QByteArray raw(qsizetype(expected), '\0');
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return completed;
    stream.next_in = reinterpret_cast<Bytef*>(pixels.data());
    stream.avail_in = uInt(pixels.size());
    stream.next_out = reinterpret_cast<Bytef*>(raw.data());
    stream.avail_out = uInt(raw.size());
    const int status = inflate(&stream, Z_SYNC_FLUSH);
    const std::uint64_t inflated = stream.total_out;
    inflateEnd(&stream);
    // A stream that ends, or one with a fault in it, is other damage.
    if (status == Z_STREAM_END || status == Z_DATA_ERROR || status == Z_NEED_DICT ||
        status == Z_MEM_ERROR || stream.avail_in != 0 || inflated >= expected)
        return completed;

    std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
        libdeflate_alloc_compressor(1));
    if (!compressor)
        return completed;
    QByteArray packed(qsizetype(libdeflate_zlib_compress_bound(compressor.get(), raw.size())),
                      '\0');
    const std::size_t packedBytes = libdeflate_zlib_compress(
        compressor.get(), raw.constData(), raw.size(), packed.data(), packed.size());
    if (packedBytes == 0)
        return completed;

    completed.file.reserve(8 + before.size() + qsizetype(packedBytes) + 24);
    completed.file.append(reinterpret_cast<const char*>(signature), 8);
    completed.file.append(before);
    appendChunk(completed.file, "IDAT", packed.constData(), packedBytes);
    appendChunk(completed.file, "IEND", nullptr, 0);
    const int percent = int(inflated * 100 / expected);
    completed.damage =
        QStringLiteral("The PNG file ends early: %1 % of its pixel data could be read")
            .arg(percent);
    return completed;
}
