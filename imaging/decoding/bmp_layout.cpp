// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoding/bmp_layout.h"

#include <algorithm>
#include <cstdlib>

namespace bmp {

namespace {

constexpr std::uint32_t signatureBM = 0x4D42; // "BM" read little-endian
constexpr std::uint32_t signatureBA = 0x4142; // "BA"

QString notRead(const QString& kind)
{
    return QStringLiteral("Glassmere does not read %1").arg(kind);
}

} // namespace

QString damaged(const QString& what)
{
    return QStringLiteral("The BMP file is damaged: %1").arg(what);
}

QString readLayout(const FileBytes& file, Layout& out)
{
    std::size_t start = 0;
    if (file.u16(0) == signatureBA) {
        // An OS/2 bitmap array: its first picture's headers follow; offsets
        // count from the start of the file.
        start = 14;
        if (file.u16(start) != signatureBM)
            return notRead(QStringLiteral("OS/2 bitmap arrays of icons or pointers"));
    }
    const std::size_t infoAt = start + 14;
    const std::uint32_t infoSize = file.u32(infoAt);
    enum { Os2v1, Os2v2, Windows } kind;
    if (infoSize == 12)
        kind = Os2v1;
    else if (infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 108 ||
             infoSize >= 124)
        kind = Windows;
    else if (infoSize >= 16 && infoSize <= 64)
        kind = Os2v2;
    else
        return damaged(QStringLiteral("an info header of %1 bytes").arg(infoSize));
    if (file.size < infoAt + 4 || file.size - infoAt < infoSize)
        return damaged(QStringLiteral("it ends inside its header"));
    // Short OS/2 2.x headers leave out the fields at their end: those are 0.
    auto field = [&](std::uint32_t offset, std::uint32_t width) -> std::uint32_t {
        if (offset + width > infoSize)
            return 0;
        return width == 2 ? file.u16(infoAt + offset) : file.u32(infoAt + offset);
    };

    std::uint32_t compression = 0;
    std::uint32_t coloursUsed = 0;
    if (kind == Os2v1) {
        out.width = field(4, 2);
        out.height = field(6, 2);
        out.bits = field(10, 2);
    } else {
        out.width = std::int32_t(field(4, 4));
        out.height = std::int32_t(field(8, 4));
        out.bits = field(14, 2);
        compression = field(16, 4);
        out.hasResolution = true;
        out.dotsPerMeterX = field(24, 4);
        out.dotsPerMeterY = field(28, 4);
        coloursUsed = field(32, 4);
    }
    if (out.width <= 0 || out.height == 0)
        return damaged(QStringLiteral("it declares %1 × %2 pixels").arg(out.width).arg(out.height));
    out.topDown = out.height < 0;
    out.height = std::abs(out.height);

    // Both kinds of header name their first three codings alike.
    constexpr Coding common[] = {Coding::Rgb, Coding::Rle8, Coding::Rle4};
    if (compression < 3) {
        out.coding = common[compression];
    } else if (kind == Windows) {
        switch (compression) {
        case 3:
        case 6:
            out.coding = Coding::BitFields;
            break;
        case 4:
            return notRead(QStringLiteral("BMPs whose pixels are a JPEG stream (BI_JPEG)"));
        case 5:
            return notRead(QStringLiteral("BMPs whose pixels are a PNG stream (BI_PNG)"));
        case 11:
        case 12:
        case 13:
            return notRead(QStringLiteral("CMYK BMPs (compression %1)").arg(compression));
        default:
            return notRead(QStringLiteral("BMPs with compression %1").arg(compression));
        }
    } else if (kind == Os2v2) {
        switch (compression) {
        case 3:
            return notRead(QStringLiteral("OS/2 BMPs with Huffman 1D compression"));
        case 4:
            out.coding = Coding::Rle24;
            break;
        default:
            return notRead(QStringLiteral("OS/2 BMPs with compression %1").arg(compression));
        }
    }

    const unsigned bits = out.bits;
    bool bitsFit = false;
    switch (out.coding) {
    case Coding::Rgb:
        bitsFit = bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 ||
                  bits == 32;
        if (bits == 64)
            return notRead(QStringLiteral("BMPs of 64 bits per pixel"));
        break;
    case Coding::Rle8:
        bitsFit = bits == 8;
        break;
    case Coding::Rle4:
        bitsFit = bits == 4;
        break;
    case Coding::Rle24:
        bitsFit = bits == 24;
        break;
    case Coding::BitFields:
        bitsFit = bits == 16 || bits == 24 || bits == 32;
        break;
    }
    if (!bitsFit)
        return damaged(
            QStringLiteral("%1 bits per pixel with compression %2").arg(bits).arg(compression));

    std::size_t afterHeaders = infoAt + infoSize;
    if (out.coding == Coding::BitFields) {
        if (infoSize >= 52) {
            out.masks = {field(40, 4), field(44, 4), field(48, 4), field(52, 4)};
        } else {
            // A 40-byte header is followed by three masks, or four with alpha.
            const std::size_t count = compression == 6 ? 4 : 3;
            if (file.size - afterHeaders < 4 * count)
                return damaged(QStringLiteral("it ends inside its bit-field masks"));
            for (std::size_t i = 0; i < count; ++i)
                out.masks[i] = file.u32(afterHeaders + 4 * i);
            afterHeaders += 4 * count;
        }
    } else if (bits == 16) {
        out.masks = {0x7C00, 0x03E0, 0x001F, 0};
    } else if (bits >= 24) {
        // Only a header that has an alpha mask can give the fourth byte meaning.
        const std::uint32_t alpha = bits == 32 && kind == Windows ? field(52, 4) : 0;
        out.masks = {0xFF0000, 0x00FF00, 0x0000FF, alpha};
    }
    if (bits < 32)
        for (std::uint32_t& mask : out.masks)
            mask &= (1u << bits) - 1;

    const std::uint32_t offBits = file.u32(start + 10);
    if (bits <= 8) {
        const std::size_t entrySize = kind == Os2v1 ? 3 : 4;
        std::size_t entries = std::size_t(1) << bits;
        if (coloursUsed > 0 && coloursUsed < entries)
            entries = coloursUsed;
        // The palette ends where the pixels start, or at the end of the file.
        const std::size_t end =
            offBits > afterHeaders && offBits <= file.size ? offBits : file.size;
        entries = std::min(entries, (end - afterHeaders) / entrySize);
        out.palette.assign(256, RGBQUAD{0, 0, 0, 0});
        for (std::size_t i = 0; i < entries; ++i) {
            const std::size_t at = afterHeaders + i * entrySize;
            out.palette[i] =
                RGBQUAD{BYTE(file.u8(at)), BYTE(file.u8(at + 1)), BYTE(file.u8(at + 2)), 0};
        }
        afterHeaders += entries * entrySize;
    }
    // An offset into the headers is damage; the pixels then follow them.
    out.pixelsAt = offBits >= afterHeaders ? offBits : afterHeaders;
    return {};
}

} // namespace bmp
