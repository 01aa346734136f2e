// SPDX-License-Identifier: GPL-3.0-or-later
// PNG writing, and a PNG's whole road to a reflected PNG, side by side with
// libvips and with the plain FreeImage pipeline, all in one run.
//
//   build/bench/bench_png                                # everything, about 4 minutes when idle
//   build/bench/bench_png --benchmark_filter=Writer      # the writer alone
//
// Writer/<bits>/glassmere|freeimage
//     a reflection of a 6000 × 4000 photograph-like picture (6000 × 5600,
//     24 bits in colour mode, 32 in transparency mode) encoded to memory by
//     encodePng and by FreeImage's PNG writer with its default options.
//     Counters: MB_per_s of raw pixels, file_MB, x_freeimage_size.
// Level/<bits>/<level>
//     encodePng at libdeflate levels 1 to 6: file size against FreeImage's.
// Reflect/<mode>/<program>
//     whole processes, 6000 × 4000 PNG in, reflected PNG out (bottom, 40 %,
//     30 %, white or transparency): glassmere-cli; the plain FreeImage
//     pipeline (FreeImage's reader and writer around the same renderer, in a
//     process of its own: this program with --freeimage-pipeline); libvips
//     doing the same reflection (flip, crop, fade by a linear blend, join,
//     vips' PNG writer with its defaults: this program with --vips-pipeline).
// Batch/<program>
//     50 pictures of 1600 × 1200, half JPEG and half PNG: glassmere-cli
//     --batch --jobs 2 against the libvips pipeline over the same files (one
//     process, libvips' own threads on every core).
//
// Each whole-process run is timed three times and the fastest counts, since
// on a shared machine other work only adds time; the runs of the peers
// alternate when --benchmark_enable_random_interleaving=true is given. After
// the runs the program prints the ratios and checks glassmere-cli's files:
// pngcheck, the pixels read back by FreeImage, Qt and libvips against the
// FreeImage pipeline's, and the size against FreeImage's default writer.

#include "fastest_runs.h"
#include "imaging/png/png_writer.h"
#include "natural_picture.h"
#include "reflection/renderer/reflection_renderer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>

#include <FreeImagePlus.h>
#include <benchmark/benchmark.h>
#include <vips/vips8>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr unsigned photoWidth = 6000;
constexpr unsigned photoHeight = 4000;
constexpr unsigned batchWidth = 1600;
constexpr unsigned batchHeight = 1200;
constexpr int batchCount = 50;
constexpr double megabyte = 1e6;

ReflectionParams reflection(bool transparent)
{
    ReflectionParams params; // bottom, 40 %, 30 %, white
    params.transparent = transparent;
    return params;
}

// ---- the peers, run as processes of their own by this program

// FreeImage's reader and writer with their defaults around Glassmere's renderer.
int freeImagePipeline(const char* input, const char* output, bool transparent)
{
    fipImage source;
    if (!source.load(input))
        return 1;
    if (!source.isTransparent() && !source.convertTo24Bits())
        return 1;
    fipImage result;
    if (!renderReflection(source, result, reflection(transparent)))
        return 1;
    return result.save(output, 0) ? 0 : 1;
}

// The same reflection in libvips' terms: the bottom 40 % flipped, its first
// 30 % at full strength and the rest blended linearly into white or into
// transparency, joined below the picture.
bool vipsReflect(const char* input, const char* output, bool transparent)
{
    using vips::VImage;
    VImage picture = VImage::new_from_file(input);
    if (picture.bands() == 4 && !transparent)
        picture = picture.flatten(VImage::option()->set("background", 255.0));
    const int width = picture.width();
    const int height = picture.height();
    const int strip = height * 40 / 100;
    const int full = strip * 30 / 100;
    std::vector<float> weights(std::size_t(std::max(strip, 1)));
    for (int y = 0; y < strip; ++y)
        weights[std::size_t(y)] =
            y < full ? 1.0f : 1.0f - float(y - full + 1) / float(strip - full + 1);
    VImage weight = VImage::new_from_memory(weights.data(), weights.size() * sizeof(float), 1,
                                            std::max(strip, 1), 1, VIPS_FORMAT_FLOAT)
                        .replicate(width, 1);
    VImage mirrored = picture.crop(0, height - strip, width, strip).flip(VIPS_DIRECTION_VERTICAL);
    VImage joined;
    if (transparent) {
        if (picture.bands() == 3)
            picture = picture.bandjoin_const({255.0});
        if (mirrored.bands() == 4)
            mirrored = mirrored.extract_band(0, VImage::option()->set("n", 3));
        VImage faded = mirrored.bandjoin((weight * 255.0).cast(VIPS_FORMAT_UCHAR));
        joined = picture.join(faded, VIPS_DIRECTION_VERTICAL);
    } else {
        VImage faded = (mirrored * weight + (1.0 - weight) * 255.0).cast(VIPS_FORMAT_UCHAR);
        joined = picture.join(faded, VIPS_DIRECTION_VERTICAL);
    }
    joined.write_to_file(output);
    return true;
}

int vipsPipeline(int argc, char** argv, bool transparent)
{
    if (VIPS_INIT(argv[0]))
        return 1;
    try {
        if (argc == 3 && QFileInfo(QString::fromLocal8Bit(argv[1])).isDir()) {
            // A folder: every picture into the result folder under its own name.
            const QDir folder(QString::fromLocal8Bit(argv[1]));
            for (const QString& name : folder.entryList(QDir::Files, QDir::Name)) {
                const QByteArray in = QFile::encodeName(folder.filePath(name));
                const QByteArray out =
                    QFile::encodeName(QString::fromLocal8Bit(argv[2]) + "/" + name);
                vipsReflect(in.constData(), out.constData(), transparent);
            }
        } else {
            vipsReflect(argv[1], argv[2], transparent);
        }
    } catch (const vips::VError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    vips_shutdown();
    return 0;
}

// ---- the pictures

struct Pictures {
    QTemporaryDir folder;
    QString photo;       // 6000 × 4000 PNG
    QString batchFolder; // 25 JPEG and 25 PNG
    fipImage results[2]; // the reflections of the photograph: colour, transparency

    Pictures()
    {
        const QString kept = qEnvironmentVariable("GLASSMERE_BENCH_PICTURES");
        const QString base = kept.isEmpty() ? folder.path() : kept;
        photo = base + "/photo-6000x4000.png";
        batchFolder = base + "/batch";
        QDir().mkpath(batchFolder);
        fipImage picture = naturalPicture(photoWidth, photoHeight, 2026);
        if (!QFileInfo::exists(photo))
            picture.save(QFile::encodeName(photo).constData(), 0);
        for (int transparent = 0; transparent < 2; ++transparent)
            renderReflection(picture, results[transparent], reflection(transparent == 1));
        for (int i = 0; i < batchCount; ++i) {
            const QString name = QStringLiteral("%1/picture-%2.%3")
                                     .arg(batchFolder)
                                     .arg(i, 2, 10, QChar('0'))
                                     .arg(i % 2 ? "png" : "jpg");
            if (QFileInfo::exists(name))
                continue;
            fipImage small = naturalPicture(batchWidth, batchHeight, quint32(i + 1));
            small.save(QFile::encodeName(name).constData(), 0);
        }
    }
};

Pictures& pictures()
{
    static Pictures made;
    return made;
}

QString outputFolder()
{
    static QTemporaryDir folder;
    return folder.path();
}

QString program(const QString& name)
{
    return QCoreApplication::applicationDirPath() + "/../bin/" + name;
}

// ---- the writer alone

QByteArray freeImagePng(const fipImage& image)
{
    FIMEMORY* memory = FreeImage_OpenMemory();
    FreeImage_SaveToMemory(FIF_PNG, static_cast<FIBITMAP*>(const_cast<fipImage&>(image)), memory,
                           0);
    BYTE* data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory, &data, &size);
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    FreeImage_CloseMemory(memory);
    return bytes;
}

std::map<int, qsizetype>& freeImageSizes()
{
    static std::map<int, qsizetype> sizes; // by bits per pixel
    return sizes;
}

qsizetype freeImageSize(const fipImage& image)
{
    const int bits = int(image.getBitsPerPixel());
    auto known = freeImageSizes().find(bits);
    if (known == freeImageSizes().end())
        known = freeImageSizes().emplace(bits, freeImagePng(image).size()).first;
    return known->second;
}

void Writer(benchmark::State& state)
{
    const fipImage& image = pictures().results[state.range(0) == 32 ? 1 : 0];
    const bool ours = state.range(1) == 0;
    qsizetype size = 0;
    for (auto _ : state) {
        QByteArray file;
        if (ours)
            encodePng(image, &file);
        else
            file = freeImagePng(image);
        size = file.size();
    }
    const double raw = double(image.getWidth()) * image.getHeight() * image.getBitsPerPixel() / 8;
    state.counters["MB_per_s"] = benchmark::Counter(raw / megabyte * double(state.iterations()),
                                                    benchmark::Counter::kIsRate);
    state.counters["file_MB"] = double(size) / megabyte;
    state.counters["x_freeimage_size"] = double(size) / double(freeImageSize(image));
}

void Level(benchmark::State& state)
{
    const fipImage& image = pictures().results[state.range(0) == 32 ? 1 : 0];
    PngEncoding how;
    how.level = int(state.range(1));
    qsizetype size = 0;
    for (auto _ : state) {
        QByteArray file;
        encodePng(image, &file, nullptr, how);
        size = file.size();
    }
    state.counters["x_freeimage_size"] = double(size) / double(freeImageSize(image));
}

// ---- whole processes

void runProcess(benchmark::State& state, const QString& executable, const QStringList& arguments)
{
    for (auto _ : state) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const auto start = std::chrono::steady_clock::now();
        process.start(executable, arguments);
        const bool finished = process.waitForFinished(-1);
        const auto end = std::chrono::steady_clock::now();
        if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
            state.SkipWithError(qPrintable(executable + " failed"));
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
}

const char* programNames[] = {"glassmere-cli", "freeimage", "vips"};

QString reflectOutput(bool transparent, int which)
{
    return QStringLiteral("%1/%2-%3.png")
        .arg(outputFolder(), transparent ? "transparent" : "colour", programNames[which]);
}

void Reflect(benchmark::State& state)
{
    const bool transparent = state.range(0) == 1;
    const int which = int(state.range(1));
    const QString input = pictures().photo;
    const QString output = reflectOutput(transparent, which);
    QStringList arguments;
    if (which == 0) {
        if (transparent)
            arguments << "--transparent";
        runProcess(state, program("glassmere-cli"), arguments << input << output);
        return;
    }
    arguments << (which == 1 ? "--freeimage-pipeline" : "--vips-pipeline");
    if (transparent)
        arguments << "--transparent";
    runProcess(state, QCoreApplication::applicationFilePath(), arguments << input << output);
}

void Batch(benchmark::State& state)
{
    const QString results = outputFolder() + (state.range(0) == 0 ? "/batch-cli" : "/batch-vips");
    QDir(results).removeRecursively();
    QDir().mkpath(results);
    if (state.range(0) == 0)
        runProcess(state, program("glassmere-cli"),
                   {"--batch", "--jobs", "2", pictures().batchFolder, results});
    else
        runProcess(state, QCoreApplication::applicationFilePath(),
                   {"--vips-pipeline", pictures().batchFolder, results});
}

void writerArguments(benchmark::internal::Benchmark* benchmark)
{
    benchmark->ArgNames({"bits", "freeimage"});
    for (int bits : {24, 32})
        for (int peer : {0, 1})
            benchmark->Args({bits, peer});
}

BENCHMARK(Writer)->Apply(writerArguments)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(Level)
    ->ArgNames({"bits", "level"})
    ->ArgsProduct({{24, 32}, {1, 2, 3, 4, 5, 6}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(Reflect)
    ->ArgNames({"transparent", "program"})
    ->ArgsProduct({{0, 1}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ComputeStatistics("min", fastest)
    ->DisplayAggregatesOnly(true);
BENCHMARK(Batch)
    ->ArgName("vips")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ComputeStatistics("min", fastest)
    ->DisplayAggregatesOnly(true);

void printRatio(const std::map<std::string, double>& seconds, const char* what,
                const std::string& ours, const std::string& theirs, double target)
{
    const auto mine = seconds.find(ours);
    const auto peer = seconds.find(theirs);
    if (mine != seconds.end() && peer != seconds.end())
        std::printf("%-52s %5.2f x  (%.2f s against %.2f s; target: at least %.1f x)\n", what,
                    peer->second / mine->second, mine->second, peer->second, target);
}

bool samePixels(const fipImage& a, const fipImage& b)
{
    if (a.getWidth() != b.getWidth() || a.getHeight() != b.getHeight() ||
        a.getBitsPerPixel() != b.getBitsPerPixel())
        return false;
    const std::size_t bytes = std::size_t(a.getWidth()) * a.getBitsPerPixel() / 8;
    for (unsigned y = 0; y < a.getHeight(); ++y)
        if (std::memcmp(a.getScanLine(y), b.getScanLine(y), bytes) != 0)
            return false;
    return true;
}

// glassmere-cli's file against the FreeImage pipeline's, read by three readers.
void checkOutputs(bool transparent)
{
    const QString ours = reflectOutput(transparent, 0);
    const QString reference = reflectOutput(transparent, 1);
    if (!QFileInfo::exists(ours) || !QFileInfo::exists(reference))
        return;
    const char* mode = transparent ? "transparency" : "colour";
    fipImage mine, theirs;
    mine.load(QFile::encodeName(ours).constData());
    theirs.load(QFile::encodeName(reference).constData());
    QImageReader::setAllocationLimit(0); // the results are larger than Qt's default limit
    const QImage qtMine(ours), qtTheirs(reference);
    bool vipsSame = false;
    try {
        vips::VImage a = vips::VImage::new_from_file(QFile::encodeName(ours).constData());
        vips::VImage b = vips::VImage::new_from_file(QFile::encodeName(reference).constData());
        vipsSame = a.width() == b.width() && a.height() == b.height() && a.bands() == b.bands() &&
                   (a == b).min() == 255.0;
    } catch (const vips::VError&) {
    }
    const int pngcheck = QProcess::execute("pngcheck", {"-q", ours});
    std::printf("%s: pixels as FreeImage's pipeline: FreeImage %s, Qt %s, libvips %s; "
                "pngcheck %s; size %.4f x FreeImage's default for the same pixels\n",
                mode, samePixels(mine, theirs) ? "yes" : "NO",
                qtMine == qtTheirs && !qtMine.isNull() ? "yes" : "NO", vipsSame ? "yes" : "NO",
                pngcheck == 0 ? "clean" : "FAILED",
                double(QFileInfo(ours).size()) / double(QFileInfo(reference).size()));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && (std::strcmp(argv[1], "--freeimage-pipeline") == 0 ||
                      std::strcmp(argv[1], "--vips-pipeline") == 0)) {
        const bool vipsPeer = argv[1][2] == 'v';
        const bool transparent = std::strcmp(argv[2], "--transparent") == 0;
        char** files = argv + (transparent ? 3 : 2);
        const int fileCount = argc - (transparent ? 3 : 2);
        if (fileCount != 2)
            return 2;
        if (vipsPeer) {
            char* vipsArguments[] = {argv[0], files[0], files[1]};
            return vipsPipeline(3, vipsArguments, transparent);
        }
        return freeImagePipeline(files[0], files[1], transparent);
    }

    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    pictures(); // made before the clock starts
    VIPS_INIT(argv[0]);
    FastestRunReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const auto& s = reporter.seconds;
    printRatio(s, "colour: glassmere-cli against libvips", "Reflect/transparent:0/program:0",
               "Reflect/transparent:0/program:2", 3.5);
    printRatio(s, "colour: glassmere-cli against the FreeImage pipeline",
               "Reflect/transparent:0/program:0", "Reflect/transparent:0/program:1", 1.0);
    printRatio(s, "transparency: glassmere-cli against the FreeImage pipeline",
               "Reflect/transparent:1/program:0", "Reflect/transparent:1/program:1", 4.0);
    printRatio(s, "transparency: glassmere-cli against libvips", "Reflect/transparent:1/program:0",
               "Reflect/transparent:1/program:2", 1.0);
    printRatio(s, "batch, 2 jobs: glassmere-cli against libvips", "Batch/vips:0", "Batch/vips:1",
               4.0);
    checkOutputs(false);
    checkOutputs(true);
    benchmark::Shutdown();
    vips_shutdown();
    return 0;
}
