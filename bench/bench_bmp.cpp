// SPDX-License-Identifier: GPL-3.0-or-later
// Glassmere's own BMP reader against FreeImage's on 6000 x 4000 BMPs in the
// layouts FreeImage writes, each to the standard 24-bit bitmap the renderer takes.
//
//   build/bench/bench_bmp
//
// Own/N       decodePictureData on the file's bytes (what the decoder does)
// FreeImage/N FreeImage_LoadFromMemory, then FreeImage_ConvertTo24Bits when
//             the picture is not 24-bit already
// N is the file's bits per pixel (16: 5-6-5 masks).

#include "imaging/decoding/picture_decoding.h"

#include <FreeImagePlus.h>
#include <QByteArray>

#include <benchmark/benchmark.h>

#include <map>

namespace {

// The picture, written by FreeImage at `bits` per pixel, as file bytes.
const QByteArray& bmpFile(int bits)
{
    static std::map<int, QByteArray> files;
    QByteArray& bytes = files[bits];
    if (!bytes.isEmpty())
        return bytes;
    fipImage picture(FIT_BITMAP, 6000, 4000, 24);
    for (unsigned y = 0; y < picture.getHeight(); ++y) {
        BYTE* pixel = picture.getScanLine(y);
        for (unsigned x = 0; x < picture.getWidth(); ++x, pixel += 3) {
            pixel[FI_RGBA_RED] = BYTE(x / 24);
            pixel[FI_RGBA_GREEN] = BYTE(y / 16);
            pixel[FI_RGBA_BLUE] = BYTE((x ^ y) & 0xF0);
        }
    }
    if (bits == 32)
        picture.convertTo32Bits();
    else if (bits == 16)
        picture.convertTo16Bits565();
    else if (bits == 8)
        picture.colorQuantize(FIQ_WUQUANT);
    FIMEMORY* memory = FreeImage_OpenMemory();
    BYTE* data = nullptr;
    DWORD size = 0;
    if (FreeImage_SaveToMemory(FIF_BMP, picture, memory, 0) &&
        FreeImage_AcquireMemory(memory, &data, &size))
        bytes = QByteArray(reinterpret_cast<const char*>(data), int(size));
    FreeImage_CloseMemory(memory);
    return bytes;
}

void Own(benchmark::State& state)
{
    const QByteArray& file = bmpFile(int(state.range(0)));
    const DecodeLimits limits{1u << 30, std::uint64_t(4) << 30};
    for (auto _ : state) {
        const DecodeOutcome outcome =
            decodePictureData(reinterpret_cast<const unsigned char*>(file.constData()),
                              size_t(file.size()), QStringLiteral("picture.bmp"), limits);
        if (!outcome.bitmap) {
            state.SkipWithError(qPrintable(outcome.reason));
            return;
        }
    }
}

void FreeImage(benchmark::State& state)
{
    QByteArray file = bmpFile(int(state.range(0)));
    for (auto _ : state) {
        FIMEMORY* memory =
            FreeImage_OpenMemory(reinterpret_cast<BYTE*>(file.data()), DWORD(file.size()));
        FIBITMAP* dib = FreeImage_LoadFromMemory(FIF_BMP, memory, 0);
        FreeImage_CloseMemory(memory);
        if (dib && FreeImage_GetBPP(dib) != 24) {
            FIBITMAP* standard = FreeImage_ConvertTo24Bits(dib);
            FreeImage_Unload(dib);
            dib = standard;
        }
        if (!dib) {
            state.SkipWithError("FreeImage could not read the picture");
            return;
        }
        FreeImage_Unload(dib);
    }
}

} // namespace

BENCHMARK(Own)->Arg(8)->Arg(16)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(FreeImage)
    ->Arg(8)
    ->Arg(16)
    ->Arg(24)
    ->Arg(32)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
