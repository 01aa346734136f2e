// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoding/reader_corrections.h"

#include "imaging/decoding/decode_vocabulary.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// What the chunks before the pixel data say.
struct PngFacts {
    bool valid = false;
    unsigned colourType = 0;
    unsigned bitDepth = 0;
    std::uint32_t gamma = 0; // gAMA × 100000; 0 when absent or overruled by sRGB or iCCP
    bool profile = false;    // an iCCP chunk: its profile, not gAMA, describes the values
    bool greyKey = false;    // tRNS of a grey picture
    unsigned greyLevel = 0;
};

PngFacts readPngFacts(const unsigned char* data, std::size_t size)
{
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PngFacts facts;
    if (size < 8 + 8 + 13 || std::memcmp(data, signature, 8) != 0 ||
        std::memcmp(data + 12, "IHDR", 4) != 0)
        return facts;
    facts.valid = true;
    facts.bitDepth = data[24];
    facts.colourType = data[25];
    bool srgb = false;
    bool palette = false;
    for (std::size_t at = 8; size - at >= 12;) {
        const std::uint32_t length = bigEndian32(data + at);
        if (length > size - at - 12)
            break;
        const unsigned char* type = data + at + 4;
        const unsigned char* body = data + at + 8;
        if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0)
            break;
        // As libpng: gAMA and sRGB count only before the palette, the first of each.
        if (std::memcmp(type, "PLTE", 4) == 0)
            palette = true;
        else if (std::memcmp(type, "gAMA", 4) == 0 && length == 4 && !palette && !facts.gamma)
            facts.gamma = bigEndian32(body);
        else if (std::memcmp(type, "sRGB", 4) == 0 && !palette)
            srgb = true;
        else if (std::memcmp(type, "iCCP", 4) == 0 && !palette)
            facts.profile = true;
        else if (std::memcmp(type, "tRNS", 4) == 0 && facts.colourType == 0 && length >= 2)
            facts.greyKey = true, facts.greyLevel = unsigned(body[0]) << 8 | body[1];
        at += 12 + length;
    }
    // libpng's range for a gamma value; sRGB sets its own, which needs no
    // correction. A profile overrules gAMA, as in browsers: the result carries
    // the profile, so correcting the values as well would count the gamma twice.
    if (srgb || facts.profile || facts.gamma < 16 || facts.gamma > 625000000)
        facts.gamma = 0;
    return facts;
}

// Pictures whose pixels FreeImage hands over as palette indices.
bool palettised(const PngFacts& facts)
{
    return facts.colourType == 3 || (facts.colourType == 0 && facts.bitDepth <= 8);
}

// libpng's 8-bit gamma table for a screen gamma of 2.2 (the one FreeImage
// asks libpng for), computed as libpng computes it, so a palette picture
// comes out as the same colours stored as truecolour would. False when the
// correction is too small to matter, which libpng skips too.
bool gammaTable(std::uint32_t fileGamma, BYTE table[256])
{
    constexpr double screenGamma = 220000; // × 100000
    const double product = std::floor(fileGamma * 1e-5 * screenGamma + 0.5);
    if (product >= 95000 && product <= 105000)
        return false;
    const double exponent = std::floor(1e15 / fileGamma / screenGamma + 0.5) * 1e-5;
    table[0] = 0;
    table[255] = 255;
    for (int i = 1; i < 255; ++i)
        table[i] = BYTE(std::floor(255 * std::pow(i / 255.0, exponent) + 0.5));
    return true;
}

void correctPng(const PngFacts& facts, FIBITMAP* dib)
{
    RGBQUAD* palette = FreeImage_GetPalette(dib);
    if (!facts.valid || !palettised(facts) || FreeImage_GetImageType(dib) != FIT_BITMAP ||
        FreeImage_GetBPP(dib) > 8 || !palette)
        return;

    // FreeImage widens 1, 2 and 4-bit grey with a transparent level to 8
    // bits but leaves the level's entry at its narrow value.
    if (facts.colourType == 0 && facts.bitDepth < 8 && FreeImage_GetBPP(dib) == 8 &&
        FreeImage_GetTransparencyCount(dib) > 0) {
        const unsigned top = (1u << facts.bitDepth) - 1;
        if (facts.greyKey && facts.greyLevel <= top) {
            BYTE table[256];
            std::memset(table, 255, sizeof table);
            table[facts.greyLevel * 255 / top] = 0;
            FreeImage_SetTransparencyTable(dib, table, 256);
        } else {
            FreeImage_SetTransparencyTable(dib, nullptr, 0); // a level no pixel can have
        }
    }

    BYTE table[256];
    if (facts.gamma && gammaTable(facts.gamma, table)) {
        for (unsigned i = 0; i < FreeImage_GetColorsUsed(dib); ++i) {
            palette[i].rgbRed = table[palette[i].rgbRed];
            palette[i].rgbGreen = table[palette[i].rgbGreen];
            palette[i].rgbBlue = table[palette[i].rgbBlue];
        }
    }
}

} // namespace

int readerFlags(FREE_IMAGE_FORMAT format, const unsigned char* data, std::size_t size)
{
    // Palette and low-bit grey pictures are corrected through their palette;
    // pictures with a profile are not corrected at all.
    if (format == FIF_PNG) {
        const PngFacts facts = readPngFacts(data, size);
        if (palettised(facts) || facts.profile)
            return PNG_IGNOREGAMMA;
    }
    // The exact transform, as libjpeg decodes by default and viewers show;
    // FreeImage's default is the fast one, up to 16 levels off.
    if (format == FIF_JPEG)
        return JPEG_ACCURATE;
    return 0;
}

void correctDecodedPicture(FREE_IMAGE_FORMAT format, const unsigned char* data, std::size_t size,
                           FIBITMAP* dib)
{
    if (format == FIF_PNG) {
        correctPng(readPngFacts(data, size), dib);
    } else if (format == FIF_TARGA && size >= 18 && data[16] == 32 && (data[17] & 0x0F) == 0 &&
               FreeImage_GetImageType(dib) == FIT_BITMAP && FreeImage_GetBPP(dib) == 32) {
        // No alpha bits declared: the fourth byte is padding.
        for (unsigned y = 0; y < FreeImage_GetHeight(dib); ++y) {
            BYTE* pixel = FreeImage_GetScanLine(dib, int(y));
            for (unsigned x = 0; x < FreeImage_GetWidth(dib); ++x, pixel += 4)
                pixel[FI_RGBA_ALPHA] = 255;
        }
    }
}
