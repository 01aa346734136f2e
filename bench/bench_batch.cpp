// SPDX-License-Identifier: GPL-3.0-or-later
// Batch throughput over 50 pictures of 1600 x 1200 (25 JPEG, 25 PNG) with the
// start-up settings, against the codecs' own share of the same work.
//
//   build/bench/bench_batch
//
// Codecs           every input decoded as the batch decodes it, and a picture
//                  of the output's size (the input and a copy of its top rows,
//                  no reflection) saved in the output's format as the batch
//                  saves it (Glassmere's PNG writer, the safe save)
// Batch/jobs:1     the batch engine, one picture at a time (as the window runs it)
// Batch/jobs:2     two pictures at a time (the command line's default here)
//
// Each is timed over three passes of all 50 pictures and the fastest pass
// counts. After the runs the program prints each one's throughput (pictures
// per second of the fastest pass) and the two ratios that matter: Batch/jobs:1
// against Codecs, and jobs:2 against jobs:1 (wall time, so run it on an
// otherwise idle machine).

#include "batch/batch_engine.h"
#include "fastest_runs.h"
#include "imaging/decoder/image_io.h"
#include "imaging/saving/picture_saving.h"
#include "natural_picture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <FreeImagePlus.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr unsigned pictureWidth = 1600;
constexpr unsigned pictureHeight = 1200;
constexpr int pictureCount = 50;

// The pictures take half a minute to make. With GLASSMERE_BENCH_PICTURES set
// to a folder they are made there once and reused by later runs.
struct Pictures {
    QTemporaryDir folder;
    QString pictures;
    QString results;
    QStringList files;

    Pictures()
    {
        const QString kept = qEnvironmentVariable("GLASSMERE_BENCH_PICTURES");
        pictures = kept.isEmpty() ? folder.path() + "/pictures" : kept;
        results = folder.path() + "/results";
        QDir().mkpath(pictures);
        QDir().mkpath(results);
        for (int i = 0; i < pictureCount; ++i) {
            const QString name = QStringLiteral("%1/picture-%2.%3")
                                     .arg(pictures)
                                     .arg(i, 2, 10, QChar('0'))
                                     .arg(i % 2 ? "png" : "jpg");
            if (QFileInfo::exists(name))
                continue;
            fipImage picture = naturalPicture(pictureWidth, pictureHeight, quint32(i + 1));
            // Written aside and renamed, so an interrupted run leaves no half picture.
            const QString partial = QFileInfo(name).path() + "/." + QFileInfo(name).fileName();
            picture.save(FreeImage_GetFIFFromFilename(QFile::encodeName(name).constData()),
                         QFile::encodeName(partial).constData(), 0);
            QFile::rename(partial, name);
        }
        files = listPictures(pictures);
    }
};

Pictures& pictures()
{
    static Pictures made;
    return made;
}

ReflectionParams startUpSettings()
{
    return ReflectionParams{}; // bottom, 40 %, 30 %, white, colour mode
}

// The codecs' part of the batch: decode, then encode a picture as large as
// the result, made by plain row copies instead of a reflection.
void Codecs(benchmark::State& state)
{
    Pictures& set = pictures();
    const ReflectionParams params = startUpSettings();
    for (auto _ : state) {
        for (const QString& input : set.files) {
            fipImage source;
            if (!loadPicture(input, source)) {
                state.SkipWithError("a picture could not be decoded");
                return;
            }
            const unsigned width = source.getWidth();
            const unsigned height = source.getHeight();
            const unsigned strip = height * unsigned(params.sizePercent) / 100;
            fipImage output(FIT_BITMAP, width, height + strip, source.getBitsPerPixel());
            const size_t pitch = source.getScanWidth();
            std::memcpy(output.getScanLine(strip), source.getScanLine(0), pitch * height);
            std::memcpy(output.getScanLine(0), source.getScanLine(height - strip), pitch * strip);
            const QString target = set.results + "/" + QFileInfo(input).fileName();
            if (!savePicture(output, target)) {
                state.SkipWithError("a picture could not be encoded");
                return;
            }
        }
    }
}

void Batch(benchmark::State& state)
{
    Pictures& set = pictures();
    BatchRequest request;
    request.pictureDir = set.pictures;
    request.resultDir = set.results;
    request.params = startUpSettings();
    request.jobs = int(state.range(0));
    for (auto _ : state) {
        const BatchReport report = runBatch(request, set.files);
        if (report.written.size() != set.files.size()) {
            state.SkipWithError("the batch did not write every picture");
            return;
        }
    }
}

BENCHMARK(Codecs)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ComputeStatistics("min", fastest)
    ->DisplayAggregatesOnly(true);
BENCHMARK(Batch)
    ->ArgName("jobs")
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ComputeStatistics("min", fastest)
    ->DisplayAggregatesOnly(true);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    pictures(); // made before the clock starts
    FastestRunReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const auto& s = reporter.seconds;
    for (const auto& [name, seconds] : s)
        std::printf("%-14s %6.2f pictures/s (%.1f s for %d pictures)\n", name.c_str(),
                    pictureCount / seconds, seconds, pictureCount);
    const auto codecs = s.find("Codecs");
    const auto one = s.find("Batch/jobs:1");
    const auto two = s.find("Batch/jobs:2");
    if (codecs != s.end() && one != s.end())
        std::printf("Batch/jobs:1 takes %.3f x the codecs' time (target: at most 1.1)\n",
                    one->second / codecs->second);
    if (one != s.end() && two != s.end())
        std::printf("Batch/jobs:2 is %.3f x as fast as jobs:1 (target: at least 1.8)\n",
                    one->second / two->second);
    benchmark::Shutdown();
    return 0;
}
