#include "png_writer.h"

#include <FreeImagePlus.h>
#include <libdeflate.h>

#include <emmintrin.h>
#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// ---- the filters one byte at a time (row ends and the reference for the vectors)

std::uint8_t paethByte(int a, int b, int c)
{
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc)
        return std::uint8_t(a);
    return std::uint8_t(pb <= pc ? b : c);
}

// What filter 0..4 (none, sub, up, average, Paeth) predicts from the left
// neighbour a, the byte above b and the one above-left c.
std::uint8_t predictByte(int filter, std::uint8_t a, std::uint8_t b, std::uint8_t c)
{
    switch (filter) {
    case 0:
        return 0;
    case 1:
        return a;
    case 2:
        return b;
    case 3:
        return std::uint8_t((a + b) >> 1);
    default:
        return paethByte(a, b, c);
    }
}

// |byte read as signed|: the measure libpng's heuristic also uses.
unsigned absoluteByte(std::uint8_t value)
{
    return value < 128 ? value : 256u - value;
}

} // namespace

// ---- SSE2, which every x86-64 processor has
namespace sse2 {
namespace {
using Vec = __m128i;
constexpr std::size_t kWidth = 16;
inline Vec zero()
{
    return _mm_setzero_si128();
}
inline Vec load(const std::uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const Vec*>(p));
}
inline void store(std::uint8_t* p, Vec v)
{
    _mm_storeu_si128(reinterpret_cast<Vec*>(p), v);
}
inline Vec sub(Vec x, Vec y)
{
    return _mm_sub_epi8(x, y);
}
// pavgb rounds up; the PNG average rounds down.
inline Vec floorAverage(Vec a, Vec b)
{
    return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}
inline Vec abs16(Vec v)
{
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}
// The Paeth predictor on eight 16-bit lanes.
inline Vec paeth16(Vec a, Vec b, Vec c)
{
    const Vec bc = _mm_sub_epi16(b, c);
    const Vec ac = _mm_sub_epi16(a, c);
    const Vec pa = abs16(bc);
    const Vec pb = abs16(ac);
    const Vec pc = abs16(_mm_add_epi16(bc, ac));
    const Vec notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
    const Vec notB = _mm_cmpgt_epi16(pb, pc);
    const Vec bOrC = _mm_or_si128(_mm_andnot_si128(notB, b), _mm_and_si128(notB, c));
    return _mm_or_si128(_mm_andnot_si128(notA, a), _mm_and_si128(notA, bOrC));
}
inline Vec paeth(Vec a, Vec b, Vec c)
{
    const Vec z = _mm_setzero_si128();
    const Vec low =
        paeth16(_mm_unpacklo_epi8(a, z), _mm_unpacklo_epi8(b, z), _mm_unpacklo_epi8(c, z));
    const Vec high =
        paeth16(_mm_unpackhi_epi8(a, z), _mm_unpackhi_epi8(b, z), _mm_unpackhi_epi8(c, z));
    return _mm_packus_epi16(low, high);
}
// min(v, -v) as unsigned bytes is |v as signed|; psadbw adds them up.
inline Vec addAbsSum(Vec sum, Vec v)
{
    const Vec magnitude = _mm_min_epu8(v, _mm_sub_epi8(_mm_setzero_si128(), v));
    return _mm_add_epi64(sum, _mm_sad_epu8(magnitude, _mm_setzero_si128()));
}
inline std::uint64_t total(Vec v)
{
    return std::uint64_t(_mm_cvtsi128_si64(v)) +
           std::uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v)));
}
#include "png_filter_kernel.inc"
} // namespace
} // namespace sse2

// ---- AVX2, chosen at run time where the processor has it
// clang ignores GCC's target pragma (the fuzz build uses clang); it has its own.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace avx2 {
namespace {
using Vec = __m256i;
constexpr std::size_t kWidth = 32;
inline Vec zero()
{
    return _mm256_setzero_si256();
}
inline Vec load(const std::uint8_t* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const Vec*>(p));
}
inline void store(std::uint8_t* p, Vec v)
{
    _mm256_storeu_si256(reinterpret_cast<Vec*>(p), v);
}
inline Vec sub(Vec x, Vec y)
{
    return _mm256_sub_epi8(x, y);
}
inline Vec floorAverage(Vec a, Vec b)
{
    return _mm256_sub_epi8(_mm256_avg_epu8(a, b),
                           _mm256_and_si256(_mm256_xor_si256(a, b), _mm256_set1_epi8(1)));
}
inline Vec paeth16(Vec a, Vec b, Vec c)
{
    const Vec bc = _mm256_sub_epi16(b, c);
    const Vec ac = _mm256_sub_epi16(a, c);
    const Vec pa = _mm256_abs_epi16(bc);
    const Vec pb = _mm256_abs_epi16(ac);
    const Vec pc = _mm256_abs_epi16(_mm256_add_epi16(bc, ac));
    const Vec notA = _mm256_or_si256(_mm256_cmpgt_epi16(pa, pb), _mm256_cmpgt_epi16(pa, pc));
    const Vec notB = _mm256_cmpgt_epi16(pb, pc);
    return _mm256_blendv_epi8(a, _mm256_blendv_epi8(b, c, notB), notA);
}
// Unpacking and packing both work within each 128-bit half, so the bytes
// come back in their order.
inline Vec paeth(Vec a, Vec b, Vec c)
{
    const Vec z = _mm256_setzero_si256();
    const Vec low =
        paeth16(_mm256_unpacklo_epi8(a, z), _mm256_unpacklo_epi8(b, z), _mm256_unpacklo_epi8(c, z));
    const Vec high =
        paeth16(_mm256_unpackhi_epi8(a, z), _mm256_unpackhi_epi8(b, z), _mm256_unpackhi_epi8(c, z));
    return _mm256_packus_epi16(low, high);
}
inline Vec addAbsSum(Vec sum, Vec v)
{
    const Vec magnitude = _mm256_abs_epi8(v);
    return _mm256_add_epi64(sum, _mm256_sad_epu8(magnitude, _mm256_setzero_si256()));
}
inline std::uint64_t total(Vec v)
{
    const __m128i halves = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return std::uint64_t(_mm_cvtsi128_si64(halves)) +
           std::uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(halves, halves)));
}
#include "png_filter_kernel.inc"
} // namespace
} // namespace avx2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace {

struct FilterKernels {
    void (*sum)(const std::uint8_t*, const std::uint8_t*, std::size_t, std::size_t, std::uint64_t*);
    void (*apply)(int, const std::uint8_t*, const std::uint8_t*, std::size_t, std::size_t,
                  std::uint8_t*);
};

const FilterKernels& filterKernels(bool avx2Allowed)
{
    static const FilterKernels sse2Kernels{sse2::sumFilters, sse2::applyFilter};
    static const FilterKernels avx2Kernels{avx2::sumFilters, avx2::applyFilter};
    static const bool hasAvx2 = __builtin_cpu_supports("avx2");
    return avx2Allowed && hasAvx2 ? avx2Kernels : sse2Kernels;
}

// Bytes kept free before each raw row: the left neighbours of the first
// pixel, which the filters read as 0.
constexpr std::size_t rowLead = 32;

struct PictureShape {
    unsigned width = 0;
    unsigned height = 0;
    unsigned sourceBytes = 3; // per pixel in the bitmap: 3 or 4
    unsigned channels = 3;    // per pixel in the file: 3 (RGB) or 4 (RGBA)
    std::size_t rowBytes() const { return std::size_t(width) * channels; }
};

// FreeImage's scan line `line` (blue, green, red, alpha) as the file's RGB(A) bytes.
void convertRow(const fipImage& image, const PictureShape& shape, unsigned line, std::uint8_t* out)
{
    const std::uint8_t* in = image.getScanLine(line);
    const unsigned step = shape.sourceBytes;
    if (shape.channels == 4) {
        for (unsigned x = 0; x < shape.width; ++x, in += 4, out += 4) {
            out[0] = in[FI_RGBA_RED];
            out[1] = in[FI_RGBA_GREEN];
            out[2] = in[FI_RGBA_BLUE];
            out[3] = in[FI_RGBA_ALPHA];
        }
    } else {
        for (unsigned x = 0; x < shape.width; ++x, in += step, out += 3) {
            out[0] = in[FI_RGBA_RED];
            out[1] = in[FI_RGBA_GREEN];
            out[2] = in[FI_RGBA_BLUE];
        }
    }
}

// Filters the file's rows [first, end) (counted from the top) into `out`,
// each as its filter byte and the filtered bytes.
void filterRows(const fipImage& image, const PictureShape& shape, unsigned first, unsigned end,
                const FilterKernels& kernels, std::uint8_t* out)
{
    const std::size_t length = shape.rowBytes();
    const std::size_t bpp = shape.channels;
    std::vector<std::uint8_t> buffers(2 * (rowLead + length), 0);
    std::uint8_t* above = buffers.data() + rowLead;
    std::uint8_t* row = above + length + rowLead;
    // The first row of the file is filtered against a row of zeros.
    if (first > 0)
        convertRow(image, shape, shape.height - first, above);
    for (unsigned y = first; y < end; ++y) {
        convertRow(image, shape, shape.height - 1 - y, row);
        std::uint64_t sums[5];
        kernels.sum(row, above, length, bpp, sums);
        const int best = int(std::min_element(sums, sums + 5) - sums);
        std::uint8_t* target = out + std::size_t(y) * (length + 1);
        target[0] = std::uint8_t(best);
        kernels.apply(best, row, above, length, bpp, target + 1);
        std::swap(row, above);
    }
}

bool everyAlphaOpaque(const fipImage& image)
{
    const unsigned width = image.getWidth();
    for (unsigned line = 0; line < image.getHeight(); ++line) {
        const std::uint8_t* pixel = image.getScanLine(line) + FI_RGBA_ALPHA;
        std::uint8_t all = 0xFF;
        for (unsigned x = 0; x < width; ++x)
            all &= pixel[4 * x];
        if (all != 0xFF)
            return false;
    }
    return true;
}

void putBigEndian(std::uint8_t* at, std::uint32_t value)
{
    at[0] = std::uint8_t(value >> 24);
    at[1] = std::uint8_t(value >> 16);
    at[2] = std::uint8_t(value >> 8);
    at[3] = std::uint8_t(value);
}

void appendChunk(QByteArray& file, const char* type, const void* data, std::size_t size)
{
    std::uint8_t head[8];
    putBigEndian(head, std::uint32_t(size));
    std::memcpy(head + 4, type, 4);
    file.append(reinterpret_cast<const char*>(head), 8);
    file.append(static_cast<const char*>(data), qsizetype(size));
    std::uint32_t crc = libdeflate_crc32(0, head + 4, 4);
    if (size > 0) // libdeflate takes a null buffer as a request for the initial value
        crc = libdeflate_crc32(crc, data, size);
    std::uint8_t tail[4];
    putBigEndian(tail, crc);
    file.append(reinterpret_cast<const char*>(tail), 4);
}

void appendChunk(QByteArray& file, const char* type, const QByteArray& data)
{
    appendChunk(file, type, data.constData(), std::size_t(data.size()));
}

struct CompressorDeleter {
    void operator()(libdeflate_compressor* compressor) const
    {
        libdeflate_free_compressor(compressor);
    }
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorDeleter>;

// `data` as one zlib stream; empty when the compressor cannot be had.
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

// The chunks between IHDR and the pixels, in the order libpng writes them
// for FreeImage: iCCP, bKGD, pHYs, tIME, iTXt.
void appendAncillaryChunks(QByteArray& file, const fipImage& image)
{
    FIBITMAP* dib = static_cast<FIBITMAP*>(const_cast<fipImage&>(image));
    const FIICCPROFILE* profile = FreeImage_GetICCProfile(dib);
    if (profile && profile->size > 0 && profile->data) {
        QByteArray body("Embedded Profile");
        body.append('\0').append('\0'); // the name ends; compression method 0 (zlib)
        body.append(zlibCompress(profile->data, profile->size, 6));
        appendChunk(file, "iCCP", body);
    }
    RGBQUAD background;
    if (FreeImage_HasBackgroundColor(dib) && FreeImage_GetBackgroundColor(dib, &background)) {
        const std::uint8_t body[6] = {0, background.rgbRed, 0, background.rgbGreen,
                                      0, background.rgbBlue};
        appendChunk(file, "bKGD", body, sizeof body);
    }
    const unsigned dotsX = FreeImage_GetDotsPerMeterX(dib);
    const unsigned dotsY = FreeImage_GetDotsPerMeterY(dib);
    if (dotsX > 0 && dotsY > 0) {
        std::uint8_t body[9];
        putBigEndian(body, dotsX);
        putBigEndian(body + 4, dotsY);
        body[8] = 1; // the unit is the metre
        appendChunk(file, "pHYs", body, sizeof body);
    }
    FITAG* tag = nullptr;
    if (FreeImage_GetMetadata(FIMD_EXIF_MAIN, dib, "DateTime", &tag) && tag &&
        FreeImage_GetTagLength(tag) > 0) {
        int year, month, day, hour, minute, second;
        const char* value = static_cast<const char*>(FreeImage_GetTagValue(tag));
        if (std::sscanf(value, "%4d:%02d:%02d %2d:%02d:%02d", &year, &month, &day, &hour, &minute,
                        &second) == 6 &&
            year >= 0 && year <= 65535 && month >= 1 && month <= 12 && day >= 1 && day <= 31 &&
            hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 60) {
            const std::uint8_t body[7] = {std::uint8_t(year >> 8), std::uint8_t(year),
                                          std::uint8_t(month),     std::uint8_t(day),
                                          std::uint8_t(hour),      std::uint8_t(minute),
                                          std::uint8_t(second)};
            appendChunk(file, "tIME", body, sizeof body);
        }
    }
    // Uncompressed iTXt: keyword, compression flag and method, empty language and translation.
    auto appendText = [&file](const char* keyword, FITAG* text) {
        const std::size_t keywordLength = std::strlen(keyword);
        if (keywordLength == 0 || keywordLength > 79)
            return;
        const char* value = static_cast<const char*>(FreeImage_GetTagValue(text));
        const std::size_t length = value ? strnlen(value, FreeImage_GetTagLength(text)) : 0;
        QByteArray body(keyword, qsizetype(keywordLength));
        body.append(5, '\0');
        body.append(value, qsizetype(length));
        appendChunk(file, "iTXt", body);
    };
    FIMETADATA* comments = FreeImage_FindFirstMetadata(FIMD_COMMENTS, dib, &tag);
    if (comments) {
        do
            appendText(FreeImage_GetTagKey(tag), tag);
        while (FreeImage_FindNextMetadata(comments, &tag));
        FreeImage_FindCloseMetadata(comments);
    }
    tag = nullptr;
    if (FreeImage_GetMetadata(FIMD_XMP, dib, "XMLPacket", &tag) && tag &&
        FreeImage_GetTagLength(tag) > 0)
        appendText("XML:com.adobe.xmp", tag);
}

} // namespace

int defaultPngLevel(int channels)
{
    return channels == 4 ? 6 : 1;
}

bool pngWriterTakes(const fipImage& image)
{
    if (!image.isValid() || image.getImageType() != FIT_BITMAP)
        return false;
    const unsigned bpp = image.getBitsPerPixel();
    if (bpp == 24)
        return true;
    // FreeImage refuses a 32-bit picture marked CMYK; leave that to it.
    const FIICCPROFILE* profile =
        FreeImage_GetICCProfile(static_cast<FIBITMAP*>(const_cast<fipImage&>(image)));
    return bpp == 32 && !(profile && (profile->flags & FIICC_COLOR_IS_CMYK));
}

bool encodePng(const fipImage& image, QByteArray* out, QString* error)
{
    return encodePng(image, out, error, PngEncoding{});
}

bool encodePng(const fipImage& image, QByteArray* out, QString* error, const PngEncoding& how)
{
    out->clear();
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (!pngWriterTakes(image))
        return fail(QStringLiteral("The PNG writer takes 24- and 32-bit pictures only"));

    PictureShape shape;
    shape.width = image.getWidth();
    shape.height = image.getHeight();
    shape.sourceBytes = image.getBitsPerPixel() / 8;
    shape.channels = shape.sourceBytes == 4 && !everyAlphaOpaque(image) ? 4 : 3;
    const int level = how.level > 0 ? how.level : defaultPngLevel(int(shape.channels));

    try {
        const std::size_t lineBytes = shape.rowBytes() + 1;
        const std::size_t filteredBytes = lineBytes * shape.height;
        std::unique_ptr<std::uint8_t[]> filtered(new std::uint8_t[filteredBytes]);

        // Rows depend only on the raw rows, so bands of rows filter independently.
        unsigned threads =
            how.threads > 0 ? unsigned(how.threads) : std::thread::hardware_concurrency();
        threads = std::clamp(threads, 1u, std::max(1u, shape.height / 16));
        if (filteredBytes < (std::size_t(1) << 20))
            threads = 1;
        const FilterKernels& kernels = filterKernels(how.avx2);
        std::vector<std::exception_ptr> failures(threads);
        auto band = [&](unsigned index) {
            return unsigned(std::uint64_t(shape.height) * index / threads);
        };
        auto filterBand = [&](unsigned index) {
            try {
                filterRows(image, shape, band(index), band(index + 1), kernels, filtered.get());
            } catch (...) {
                failures[index] = std::current_exception();
            }
        };
        std::vector<std::thread> workers;
        unsigned started = 1;
        for (; started < threads; ++started) {
            try {
                workers.emplace_back(filterBand, started);
            } catch (const std::system_error&) {
                break; // no more threads to be had: the rest is done here
            }
        }
        filterBand(0);
        for (unsigned index = started; index < threads; ++index)
            filterBand(index);
        for (std::thread& worker : workers)
            worker.join();
        for (const std::exception_ptr& failure : failures)
            if (failure)
                std::rethrow_exception(failure);

        const QByteArray stream = zlibCompress(filtered.get(), filteredBytes, level);
        filtered.reset();
        if (stream.isEmpty())
            return fail(QStringLiteral("The PNG compressor could not be set up"));

        QByteArray file;
        file.reserve(stream.size() + stream.size() / 4096 + 4096);
        file.append("\x89PNG\r\n\x1a\n", 8);
        std::uint8_t header[13];
        putBigEndian(header, shape.width);
        putBigEndian(header + 4, shape.height);
        header[8] = 8;                            // bits per sample
        header[9] = shape.channels == 4 ? 6 : 2;  // RGBA or RGB
        header[10] = header[11] = header[12] = 0; // deflate, adaptive filters, not interlaced
        appendChunk(file, "IHDR", header, sizeof header);
        appendAncillaryChunks(file, image);
        constexpr qsizetype idatBytes = 1 << 18;
        for (qsizetype at = 0; at < stream.size(); at += idatBytes)
            appendChunk(file, "IDAT", stream.constData() + at,
                        std::size_t(std::min(idatBytes, stream.size() - at)));
        appendChunk(file, "IEND", nullptr, 0);
        *out = std::move(file);
        return true;
    } catch (const std::bad_alloc&) {
        out->clear();
        return fail(QStringLiteral("Not enough memory to encode the picture as PNG"));
    }
}
