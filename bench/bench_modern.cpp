// SPDX-License-Identifier: GPL-3.0-or-later
// HEIC, AVIF and JPEG XL side by side with the formats' own tools, in one run:
//
//   Decode/format/megapixels/program: one picture of 12 or 24 megapixels
//     (a photograph-like picture, written once by heif-enc, avifenc and cjxl)
//     decoded by Glassmere's decoder (`glassmere-decoder --check`, the whole
//     process: start-up, lock-in, decode), by the format's reference decoder
//     (heif-convert and avifdec write Y4M, djxl a PPM) and by ImageMagick
//     (`convert FILE null:`; ImageMagick 6 here reads no JPEG XL).
//   Encode/megapixels/program: the same picture's PNG written as AVIF at
//     quality 90 by glassmere-cli (--size 0: the picture itself), by avifenc
//     at the speed and chroma Glassmere uses (-s 7 -y 444) with the quantiser
//     libheif gives quality 90 (cq-level 6 in aom's Q mode), and by ImageMagick (quality
//     90, its default speed and 4:2:0). Each includes reading the PNG.
//   AvifWriter/lossless: the 1600 × 1200 result written in-process on one
//     thread, the case that must take under 2 s on one core.
//
// Whole processes are timed three times, the fastest run counting (other
// work only adds time); `cpu_s` is the processes' user and system time. After
// the runs the program prints every ratio against Glassmere and the encoded
// files' sizes and PSNR against the PNG.

#include "fastest_runs.h"
#include "natural_picture.h"

#include "imaging/saving/avif_writing.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>

namespace {

const char* formats[] = {"heic", "avif", "jxl"};
const char* decoders[] = {"glassmere", "reference", "imagemagick"};
const char* encoders[] = {"glassmere", "avifenc", "imagemagick"};

QString folder()
{
    static QTemporaryDir made;
    return made.path();
}

QString program(const QString& name)
{
    return QCoreApplication::applicationDirPath() + "/../bin/" + name;
}

QString source(int megapixels, const char* suffix)
{
    return QStringLiteral("%1/picture-%2.%3").arg(folder()).arg(megapixels).arg(suffix);
}

bool run(const QString& executable, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(executable, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

double childSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The pictures of 12 and 24 megapixels as PNG, HEIC, AVIF and JPEG XL, made
// before any clock starts.
void makePictures()
{
    for (const auto& [megapixels, width, height] :
         {std::tuple{12, 4000u, 3000u}, std::tuple{24, 6000u, 4000u}}) {
        fipImage picture = naturalPicture(width, height, quint32(megapixels));
        const QString png = source(megapixels, "png");
        if (!picture.save(QFile::encodeName(png).constData(), PNG_Z_BEST_SPEED) ||
            !run("heif-enc",
                 {"-q", "85", "-p", "preset=ultrafast", png, "-o", source(megapixels, "heic")}) ||
            !run("avifenc", {"-s", "8", "-j", "2", png, source(megapixels, "avif")}) ||
            !run("cjxl", {"-e", "3", "-d", "1", png, source(megapixels, "jxl")}))
            qFatal("the %d-megapixel pictures could not be made", megapixels);
    }
}

void timeProcess(benchmark::State& state, const QString& executable, const QStringList& arguments)
{
    double cpu = 0;
    for (auto _ : state) {
        const double before = childSeconds();
        const auto start = std::chrono::steady_clock::now();
        if (!run(executable, arguments)) {
            state.SkipWithError(qPrintable(executable + " failed"));
            return;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        cpu += childSeconds() - before;
    }
    state.counters["cpu_s"] = cpu / double(state.iterations());
}

void Decode(benchmark::State& state)
{
    const char* suffix = formats[state.range(0)];
    const int megapixels = int(state.range(1));
    const QString file = source(megapixels, suffix);
    const QString scratch = folder() + "/decoded";
    switch (state.range(2)) {
    case 0:
        return timeProcess(state, program("glassmere-decoder"), {"--check", file});
    case 1:
        if (state.range(0) == 2)
            return timeProcess(state, "djxl", {file, scratch + ".ppm"});
        return timeProcess(state, state.range(0) == 0 ? "heif-convert" : "avifdec",
                           {file, scratch + ".y4m"});
    default:
        if (state.range(0) == 2)
            return state.SkipWithError("ImageMagick 6 reads no JPEG XL");
        return timeProcess(state, "convert", {file, "null:"});
    }
}

QString encoded(int megapixels, int which)
{
    return QStringLiteral("%1/encoded-%2-%3.avif").arg(folder()).arg(megapixels).arg(which);
}

void Encode(benchmark::State& state)
{
    const int megapixels = int(state.range(0));
    const int which = int(state.range(1));
    const QString png = source(megapixels, "png");
    const QString out = encoded(megapixels, which);
    if (which == 0)
        return timeProcess(state, program("glassmere-cli"),
                           {"--size", "0", "--quality", "90", png, out});
    if (which == 1)
        return timeProcess(state, "avifenc",
                           {"-s", "7", "-y", "444", "--min", "0", "--max", "63", "-a",
                            "end-usage=q", "-a", "cq-level=6", png, out});
    timeProcess(state, "convert", {png, "-quality", "90", out});
}

void AvifWriter(benchmark::State& state)
{
    const fipImage result = naturalPicture(1600, 1200, 7);
    const int quality = state.range(0) == 1 ? avifLossless : 90;
    qsizetype size = 0;
    for (auto _ : state) {
        QByteArray file;
        if (!encodeAvif(result, quality, &file, nullptr, 1)) {
            state.SkipWithError("the AVIF writer failed");
            return;
        }
        size = file.size();
    }
    state.counters["bytes"] = double(size);
}

BENCHMARK(Decode)
    ->ArgNames({"format", "mp", "program"})
    ->ArgsProduct({{0, 1, 2}, {12, 24}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ComputeStatistics("min", fastest)
    ->DisplayAggregatesOnly(true);
BENCHMARK(Encode)
    ->ArgNames({"mp", "program"})
    ->ArgsProduct({{12, 24}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(2)
    ->ComputeStatistics("min", fastest)
    ->DisplayAggregatesOnly(true);
BENCHMARK(AvifWriter)
    ->ArgNames({"lossless"})
    ->DenseRange(0, 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ComputeStatistics("min", fastest)
    ->DisplayAggregatesOnly(true);

// PSNR of an AVIF, as avifdec reads it, against the PNG it was made from.
double psnr(const QString& avif, const QString& png)
{
    const QString back = avif + ".png";
    if (!run("avifdec", {"-d", "8", avif, back}))
        return 0;
    fipImage a, b;
    a.load(QFile::encodeName(png).constData());
    b.load(QFile::encodeName(back).constData());
    if (a.getWidth() != b.getWidth() || a.getHeight() != b.getHeight())
        return 0;
    a.convertTo24Bits();
    b.convertTo24Bits();
    double squares = 0;
    const unsigned bytes = a.getWidth() * 3;
    for (unsigned y = 0; y < a.getHeight(); ++y)
        for (unsigned i = 0; i < bytes; ++i)
            squares += std::pow(double(a.getScanLine(y)[i]) - b.getScanLine(y)[i], 2.0);
    return 10 * std::log10(255.0 * 255.0 * bytes * a.getHeight() / std::max(squares, 1.0));
}

void printRatios(const std::map<std::string, double>& seconds)
{
    for (int mp : {12, 24})
        for (int f = 0; f < 3; ++f) {
            const auto ours = seconds.find(
                QStringLiteral("Decode/format:%1/mp:%2/program:0").arg(f).arg(mp).toStdString());
            for (int p = 1; p < 3 && ours != seconds.end(); ++p) {
                const auto peer = seconds.find(QStringLiteral("Decode/format:%1/mp:%2/program:%3")
                                                   .arg(f)
                                                   .arg(mp)
                                                   .arg(p)
                                                   .toStdString());
                if (peer != seconds.end())
                    std::printf("decode %-4s %d MP: %-11s takes %5.2f x Glassmere's time "
                                "(%.2f s against %.2f s)\n",
                                formats[f], mp, decoders[p], peer->second / ours->second,
                                peer->second, ours->second);
            }
        }
    for (int mp : {12, 24}) {
        const auto ours =
            seconds.find(QStringLiteral("Encode/mp:%1/program:0").arg(mp).toStdString());
        for (int p = 0; p < 3; ++p) {
            const auto peer = seconds.find(
                QStringLiteral("Encode/mp:%1/program:%2").arg(mp).arg(p).toStdString());
            if (peer == seconds.end() || ours == seconds.end())
                continue;
            std::printf("encode AVIF %d MP: %-11s %5.2f x Glassmere's time (%.2f s), %.0f kB, "
                        "%.1f dB\n",
                        mp, encoders[p], peer->second / ours->second, peer->second,
                        double(QFileInfo(encoded(mp, p)).size()) / 1000,
                        psnr(encoded(mp, p), source(mp, "png")));
        }
    }
    for (int lossless = 0; lossless < 2; ++lossless) {
        const auto writer =
            seconds.find(QStringLiteral("AvifWriter/lossless:%1").arg(lossless).toStdString());
        if (writer != seconds.end())
            std::printf("1600 x 1200 AVIF result%s on one thread: %.2f s (target: under 2 s)\n",
                        lossless ? ", lossless," : " at quality 90", writer->second);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    makePictures();
    FastestRunReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printRatios(reporter.seconds);
    benchmark::Shutdown();
    return 0;
}
