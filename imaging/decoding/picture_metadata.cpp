// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoding/picture_metadata.h"

#include "imaging/decoding/decode_vocabulary.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t signature(const char (&text)[5])
{
    return std::uint32_t(std::uint8_t(text[0])) << 24 | std::uint32_t(std::uint8_t(text[1])) << 16 |
           std::uint32_t(std::uint8_t(text[2])) << 8 | std::uint32_t(std::uint8_t(text[3]));
}

// What FreeImage_Allocate gives a new bitmap: the writers store it as 72 dpi.

} // namespace

bool isCarriableProfile(const QByteArray& profile)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(profile.constData());
    const std::size_t size = std::size_t(profile.size());
    const auto word = [bytes](std::size_t at) { return bigEndian32(bytes + at); };
    // The header (128 bytes) and the tag count, with the length it states.
    if (size < 132 || size > maxProfileLength || word(0) != size)
        return false;
    if (bytes[8] > 3 && size % 4 != 0) // version 4 on pads to whole words
        return false;
    static const std::uint8_t d50[12] = {0x00, 0x00, 0xf6, 0xd6, 0x00, 0x01,
                                         0x00, 0x00, 0x00, 0x00, 0xd3, 0x2d};
    const std::uint32_t deviceClass = word(12);
    const std::uint32_t connection = word(20);
    if (word(36) != signature("acsp") || word(16) != signature("RGB ") || word(64) > 3 ||
        std::memcmp(bytes + 68, d50, sizeof d50) != 0 ||
        (connection != signature("XYZ ") && connection != signature("Lab ")))
        return false;
    if (deviceClass != signature("mntr") && deviceClass != signature("scnr") &&
        deviceClass != signature("prtr") && deviceClass != signature("spac"))
        return false;
    const std::uint32_t tags = word(128);
    if (tags > (size - 132) / 12)
        return false;
    for (std::uint32_t i = 0; i < tags; ++i) {
        const std::uint32_t start = word(132 + 12 * std::size_t(i) + 4);
        const std::uint32_t length = word(132 + 12 * std::size_t(i) + 8);
        if (start > size || length > size - start || start % 4 != 0)
            return false;
    }
    return true;
}

QByteArray carriableProfile(FIBITMAP* dib)
{
    const FIICCPROFILE* icc = FreeImage_GetICCProfile(dib);
    if (!icc || !icc->data || icc->size <= 0 || icc->size > long(maxProfileLength))
        return {};
    QByteArray profile(static_cast<const char*>(icc->data), qsizetype(icc->size));
    return isCarriableProfile(profile) ? profile : QByteArray();
}

QByteArray pngProfile(const unsigned char* data, std::size_t size)
{
    // Chunks follow the 8-byte signature: length, type, data, CRC; iCCP
    // comes before the pixels (IDAT).
    for (std::size_t at = 8; at + 12 <= size;) {
        const std::uint32_t length = bigEndian32(data + at);
        const unsigned char* type = data + at + 4;
        const unsigned char* body = data + at + 8;
        if (length > size - at - 12 || std::memcmp(type, "IDAT", 4) == 0)
            return {};
        if (std::memcmp(type, "iCCP", 4) == 0) {
            // A name of up to 79 bytes, its 0 and the compression method (0: zlib).
            const auto* nameEnd = static_cast<const unsigned char*>(
                std::memchr(body, 0, std::min<std::size_t>(length, 80)));
            if (!nameEnd || body + length - nameEnd < 2 || nameEnd[1] != 0)
                return {};
            const unsigned char* compressed = nameEnd + 2;
            const auto compressedSize = DWORD(body + length - compressed);
            // Deflate shrinks by at most 1032:1; a longer profile fails as too long.
            const auto room = DWORD(std::min<std::uint64_t>(
                maxProfileLength, std::uint64_t(compressedSize) * 1032 + 64));
            QByteArray profile(qsizetype(room), Qt::Uninitialized);
            const DWORD unpacked =
                FreeImage_ZLibUncompress(reinterpret_cast<BYTE*>(profile.data()), room,
                                         const_cast<BYTE*>(compressed), compressedSize);
            profile.truncate(qsizetype(unpacked));
            return isCarriableProfile(profile) ? profile : QByteArray();
        }
        at += 12 + std::size_t(length);
    }
    return {};
}

bool tiffStatesResolution(const unsigned char* data, std::size_t size)
{
    if (size < 8)
        return false;
    const bool little = data[0] == 'I';
    const auto read = [data, little](std::size_t at, int bytes) {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= std::uint32_t(data[at + i]) << 8 * (little ? i : bytes - 1 - i);
        return value;
    };
    if (read(2, 2) != 42) // BigTIFF: FreeImage's reading stands
        return true;
    // The first directory: a count, then 12-byte entries sorted by tag.
    const std::size_t directory = read(4, 4);
    if (directory > size - 2)
        return false;
    const std::uint32_t entries = read(directory, 2);
    for (std::size_t i = 0; i < entries && directory + 2 + 12 * (i + 1) <= size; ++i) {
        if (read(directory + 2 + 12 * i, 2) == 282) // XResolution
            return true;
    }
    return false;
}

int pictureOrientation(FIBITMAP* dib)
{
    FITAG* tag = nullptr;
    if (!FreeImage_GetMetadata(FIMD_EXIF_MAIN, dib, "Orientation", &tag) || !tag ||
        FreeImage_GetTagType(tag) != FIDT_SHORT || FreeImage_GetTagCount(tag) < 1)
        return 1;
    const WORD value = *static_cast<const WORD*>(FreeImage_GetTagValue(tag));
    return value >= 1 && value <= 8 ? value : 1;
}

BitmapPtr turnUpright(BitmapPtr dib, int orientation)
{
    if (orientation >= 5 && orientation <= 8) {
        // FreeImage turns counter-clockwise for a positive angle; 5 and 7
        // are these turns mirrored top to bottom.
        const double angle = orientation == 5 || orientation == 8 ? 90 : -90;
        BitmapPtr turned(FreeImage_Rotate(dib.get(), angle));
        if (!turned)
            return nullptr;
        FreeImage_SetDotsPerMeterX(turned.get(), FreeImage_GetDotsPerMeterY(dib.get()));
        FreeImage_SetDotsPerMeterY(turned.get(), FreeImage_GetDotsPerMeterX(dib.get()));
        dib = std::move(turned);
    }
    const bool mirrorSides = orientation == 2 || orientation == 3;
    const bool mirrorRows =
        orientation == 3 || orientation == 4 || orientation == 5 || orientation == 7;
    if ((mirrorSides && !FreeImage_FlipHorizontal(dib.get())) ||
        (mirrorRows && !FreeImage_FlipVertical(dib.get())))
        return nullptr;
    return dib;
}
