// SPDX-License-Identifier: GPL-3.0-or-later
// What decoding in a glassmere-decoder process costs against decoding in the
// program itself, on 1600 x 1200 JPEGs like a camera's.
//
//   build/bench/bench_decoding --benchmark_counters_tabular=true
//
// InProcess        the file mapped and decoded here (what the decoder does inside)
// Isolated/jobs:N  loadPicture from N threads at once: request, decode in a
//                  reused decoder, pixels back through the socket
// FreshDecoder     starting a decoder and decoding one small picture: the cost
//                  of replacing a decoder after a failed file
// Batch            the whole batch over the same files, one job
// .../unlocked:1   the same with decoders that do not lock themselves in
//                  (glassmere-decoder --unlocked), for the lock's cost
//
// After the runs the program prints the overhead per file (Isolated/jobs:1
// minus InProcess) and the lock's cost as a share of the batch.

#include "batch/batch_engine.h"
#include "imaging/decoder/decoder_process.h"
#include "imaging/decoder/image_io.h"
#include "imaging/decoding/picture_decoding.h"

#include <FreeImagePlus.h>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <thread>
#include <vector>

namespace {

constexpr unsigned pictureWidth = 1600;
constexpr unsigned pictureHeight = 1200;
constexpr int pictureCount = 20;

// Smooth shading with sensor-like noise, so the JPEG holds about what a photograph's does.
fipImage photograph(quint32 seed)
{
    QRandomGenerator random(seed);
    fipImage picture(FIT_BITMAP, pictureWidth, pictureHeight, 24);
    const double phase = random.bounded(6.28);
    for (unsigned y = 0; y < pictureHeight; ++y) {
        BYTE* pixel = picture.getScanLine(y);
        for (unsigned x = 0; x < pictureWidth; ++x, pixel += 3) {
            const double wave = 0.5 + 0.5 * std::sin(x * 0.011 + y * 0.006 + phase);
            const int noise = int(random.bounded(13)) - 6;
            auto channel = [&](double value) { return BYTE(qBound(0, int(value) + noise, 255)); };
            pixel[FI_RGBA_RED] = channel(255.0 * (0.3 + 0.6 * x / pictureWidth) * wave);
            pixel[FI_RGBA_GREEN] = channel(200.0 * wave);
            pixel[FI_RGBA_BLUE] = channel(255.0 * (0.2 + 0.7 * y / pictureHeight));
        }
    }
    return picture;
}

struct Pictures {
    QTemporaryDir folder;
    QStringList files;
    QString small;

    Pictures()
    {
        for (int i = 0; i < pictureCount; ++i) {
            fipImage picture = photograph(quint32(i + 1));
            const QString path = folder.filePath(QStringLiteral("photo-%1.jpg").arg(i));
            picture.save(QFile::encodeName(path).constData(), JPEG_QUALITYGOOD);
            files.append(path);
        }
        fipImage tiny(FIT_BITMAP, 16, 16, 24);
        small = folder.filePath(QStringLiteral("small.png"));
        tiny.save(QFile::encodeName(small).constData(), 0);
    }
};

Pictures& pictures()
{
    static Pictures made;
    return made;
}

std::map<std::string, double> secondsPerFile;

// Decoders with or without the lock: an unlocked one is started through a
// script that passes --unlocked.
void useDecoders(bool locked)
{
    static QTemporaryDir folder;
    static const QString script = [] {
        const QString path = folder.filePath(QStringLiteral("unlocked-decoder"));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write("#!/bin/sh\nexec '" + QFile::encodeName(pictureDecoderProgram()) +
                   "' --unlocked \"$@\"\n");
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                            QFileDevice::ExeOwner);
        return path;
    }();
    setPictureDecoderProgram(locked ? QString() : script);
}

void countFiles(benchmark::State& state)
{
    state.counters["files/s"] =
        benchmark::Counter(double(state.iterations()) * pictureCount, benchmark::Counter::kIsRate);
}

void InProcess(benchmark::State& state)
{
    Pictures& set = pictures();
    const DecodeLimits decodeLimits = pictureLimits();
    for (auto _ : state) {
        for (const QString& path : set.files) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) {
                state.SkipWithError("cannot open a picture");
                return;
            }
            const uchar* data = file.map(0, file.size());
            DecodeOutcome outcome =
                decodePictureData(data, size_t(file.size()), file.fileName(), decodeLimits);
            if (!outcome.bitmap) {
                state.SkipWithError(qPrintable(outcome.reason));
                return;
            }
            benchmark::DoNotOptimize(outcome.bitmap.get());
        }
    }
    countFiles(state);
}

void Isolated(benchmark::State& state)
{
    Pictures& set = pictures();
    const int jobs = int(state.range(0));
    useDecoders(state.range(1) == 0);
    for (auto _ : state) {
        std::vector<std::thread> threads;
        std::atomic<int> failures{0};
        for (int job = 0; job < jobs; ++job)
            threads.emplace_back([&, job] {
                for (int i = job; i < set.files.size(); i += jobs) {
                    fipImage picture;
                    if (!loadPicture(set.files[i], picture))
                        ++failures;
                }
            });
        for (std::thread& thread : threads)
            thread.join();
        if (failures) {
            state.SkipWithError("a picture could not be decoded");
            return;
        }
    }
    countFiles(state);
}

void FreshDecoder(benchmark::State& state)
{
    Pictures& set = pictures();
    useDecoders(state.range(0) == 0);
    for (auto _ : state) {
        endIdleDecoders(); // the next decode starts a decoder
        fipImage picture;
        if (!loadPicture(set.small, picture)) {
            state.SkipWithError("the small picture could not be decoded");
            return;
        }
    }
}

// The whole batch over the same JPEGs with the start-up settings, one job:
// what the decoding overhead is a share of.
void Batch(benchmark::State& state)
{
    Pictures& set = pictures();
    const QString results = set.folder.filePath(QStringLiteral("results"));
    QDir().mkpath(results);
    BatchRequest request;
    request.pictureDir = set.folder.path();
    request.resultDir = results;
    request.jobs = 1;
    useDecoders(state.range(0) == 0);
    for (auto _ : state) {
        const BatchReport report = runBatch(request, set.files);
        if (report.written.size() != set.files.size()) {
            state.SkipWithError("a picture was not written");
            return;
        }
    }
    countFiles(state);
}

BENCHMARK(InProcess)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(Isolated)
    ->ArgNames({"jobs", "unlocked"})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({2, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);
BENCHMARK(FreshDecoder)
    ->ArgName("unlocked")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(20);
// Side by side, in turn, so that a busy machine weighs on both alike.
BENCHMARK(Batch)
    ->ArgName("unlocked")
    ->Arg(0)
    ->Arg(1)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// Keeps each run's time per file for the summary.
class Summary : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            const double perIteration = run.GetAdjustedRealTime() / 1000.0; // ms to s
            const bool perFile = run.benchmark_name().rfind("FreshDecoder", 0) != 0;
            const double seconds = perFile ? perIteration / pictureCount : perIteration;
            // A run given twice keeps its faster time.
            double& kept = secondsPerFile[run.benchmark_name()];
            kept = kept == 0 ? seconds : std::min(kept, seconds);
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    Summary summary;
    benchmark::RunSpecifiedBenchmarks(&summary);
    const auto inProcess = secondsPerFile.find("InProcess/iterations:5/real_time");
    const auto isolated = secondsPerFile.find("Isolated/jobs:1/unlocked:0/iterations:5/real_time");
    const auto batch = secondsPerFile.find("Batch/unlocked:0/iterations:3/real_time");
    const auto unlockedBatch = secondsPerFile.find("Batch/unlocked:1/iterations:3/real_time");
    if (inProcess != secondsPerFile.end() && isolated != secondsPerFile.end()) {
        const double overhead = isolated->second - inProcess->second;
        std::printf("Decoding a %u x %u JPEG: %.1f ms in the program, %.1f ms through the "
                    "decoder: %.1f ms more per file\n",
                    pictureWidth, pictureHeight, inProcess->second * 1000.0,
                    isolated->second * 1000.0, overhead * 1000.0);
        if (batch != secondsPerFile.end())
            std::printf("The batch takes %.1f ms per file; the decoder's overhead is %.1f %% of "
                        "it (target: under 10 %%)\n",
                        batch->second * 1000.0, 100.0 * overhead / batch->second);
    }
    if (batch != secondsPerFile.end() && unlockedBatch != secondsPerFile.end())
        std::printf("The decoder's lock: the batch takes %.2f ms per file locked, %.2f ms "
                    "unlocked: %+.1f %% (target: at most 2 %%)\n",
                    batch->second * 1000.0, unlockedBatch->second * 1000.0,
                    100.0 * (batch->second / unlockedBatch->second - 1.0));
    benchmark::Shutdown();
    return 0;
}
