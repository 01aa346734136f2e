// SPDX-License-Identifier: GPL-3.0-or-later
// Render and preview speed at 6000 x 4000, against the floor of the same run.
//
//   build-render/bench/bench_render --benchmark_counters_tabular=true
//
// Render/<depth>/<direction>/<mode>/reused   fast renderer into the previous result
// Render/<depth>/<direction>/<mode>/fresh    fast renderer into a new result
// Render/<depth>/<direction>/<mode>/steps    the step-by-step way (working copy,
//                                            turns, clone, crop, byte loop)
// Floor/<source depth>to<result depth>/existing|fresh
//     the source's bytes read once and the result's bytes written once, into an
//     existing buffer or a newly allocated FreeImage bitmap
// Preview/<depth>/mine                 result to QPixmap as the window does it
// Preview/<depth>/mine-no-opaque-detection   the same, the pixmap told not to
//                                      look for alpha again
// Preview/<depth>/image-only           previewImage alone
// Preview/<depth>/qt-way               wrap, rgbSwapped, mirrored, QPixmap::fromImage
// Copy/32/existing|fresh               one copy of the preview's bytes
// Live/<depth>/<direction>/<mode>/fitted|actual
//     one frame of the preview while a slider is dragged (render and the
//     pixmap the view takes), the picture shown fitted in a 1000 x 700 view or
//     at "1:1" with the view in the middle of the result; the size changes
//     every frame as a drag changes it
// Live/<depth>/<direction>/colour/blur30/fitted|actual
//     the same while the blur is dragged (radius 30 to 59)
// Live/<depth>/<direction>/transparency/skew200/fitted|actual
//     the same while the skew is dragged (170 to 229 pixels)
// Live/<depth>/copy                    the copy at the fitted view's scale,
//                                      made once per picture and zoom
// Controls/<depth>/<direction>/<mode>/plain|opacity50|gap100|blur30|skew200|
//                                      skew200blur30|contact
//                                      the reflection controls, into the
//                                      previous result, beside the plain render
//                                      (contact: the contact edge on a picture
//                                      without a margin, which looks at one line)
//
// Counters: peak_MiB is the resident memory a single run adds at its peak,
// measured by resetting the kernel's high-water mark; MiB is the result's size.

#include "imaging/pixels/pixel_memory.h"
#include "imaging/preview/preview_image.h"
#include "random_picture.h"
#include "reflection/renderer/live_preview.h"
#include "reflection/renderer/reflection_renderer.h"
#include "tests/support/reflection_oracle.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>

#include <FreeImagePlus.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int pictureWidth = 6000;
constexpr int pictureHeight = 4000;
constexpr double mebibyte = 1024.0 * 1024.0;

const fipImage& picture(int bpp)
{
    static const fipImage picture24 = randomPicture(pictureWidth, pictureHeight, 24);
    static const fipImage picture32 = randomPicture(pictureWidth, pictureHeight, 32);
    return bpp == 24 ? picture24 : picture32;
}

long long statusKiB(const char* key)
{
    FILE* file = std::fopen("/proc/self/status", "r");
    if (!file)
        return -1;
    char line[256];
    long long value = -1;
    const std::size_t length = std::strlen(key);
    while (std::fgets(line, sizeof line, file)) {
        if (std::strncmp(line, key, length) == 0) {
            value = std::atoll(line + length + 1);
            break;
        }
    }
    std::fclose(file);
    return value;
}

// Resident memory that `run` adds at its peak, in MiB; -1 when the kernel
// does not let the high-water mark be reset.
double peakMiB(const std::function<void()>& run)
{
    FILE* clear = std::fopen("/proc/self/clear_refs", "w");
    if (!clear)
        return -1;
    std::fputs("5", clear);
    std::fclose(clear);
    const long long before = statusKiB("VmRSS:");
    run();
    const long long peak = statusKiB("VmHWM:");
    return before < 0 || peak < 0 ? -1 : double(peak - before) / 1024.0;
}

ReflectionParams paramsFor(Direction direction, bool transparent)
{
    ReflectionParams params; // size 40, unfaded 30, white: the start-up settings
    params.direction = direction;
    params.transparent = transparent;
    return params;
}

enum class Way { Reused, Fresh, Steps };

void renderBenchmark(benchmark::State& state, int bpp, Direction direction, bool transparent,
                     Way way, int opacity = 100, int gap = 0, int blur = 0, int skew = 0,
                     bool contactEdge = false)
{
    const fipImage& source = picture(bpp);
    ReflectionParams params = paramsFor(direction, transparent);
    params.opacity = opacity;
    params.gap = gap;
    params.blur = blur;
    params.skew = skew;
    params.contactEdge = contactEdge;
    PixelMemory memory; // a reused result's block, kept from render to render
    fipImage result;
    if (way == Way::Reused && !renderReflection(source, result, params, &memory)) {
        state.SkipWithError("render failed");
        return;
    }
    for (auto _ : state) {
        if (way == Way::Reused) {
            renderReflection(source, result, params, &memory);
            benchmark::DoNotOptimize(result.accessPixels());
        } else {
            fipImage output;
            if (way == Way::Fresh)
                renderReflection(source, output, params);
            else
                oracle::AddImageReflection(source, output, params);
            benchmark::DoNotOptimize(output.accessPixels());
        }
    }
    state.counters["peak_MiB"] = peakMiB([&] {
        if (way == Way::Reused) {
            renderReflection(source, result, params, &memory);
        } else {
            fipImage output;
            if (way == Way::Fresh)
                renderReflection(source, output, params);
            else
                oracle::AddImageReflection(source, output, params);
        }
    });
    fipImage sized;
    renderReflection(source, sized, params);
    state.counters["MiB"] = double(sized.getScanWidth()) * sized.getHeight() / mebibyte;
}

// The floor: the picture's bytes read once and the result's written once.
void floorBenchmark(benchmark::State& state, int sourceBpp, int resultBpp, bool fresh)
{
    const fipImage& source = picture(sourceBpp);
    const std::size_t sourceBytes = std::size_t(source.getScanWidth()) * source.getHeight();
    // The result of the start-up settings: 40 % more rows.
    const unsigned resultHeight = pictureHeight + pictureHeight * 40 / 100;
    fipImage existing(FIT_BITMAP, pictureWidth, resultHeight, unsigned(resultBpp));
    const std::size_t resultBytes = std::size_t(existing.getScanWidth()) * resultHeight;
    const auto write = [&](BYTE* out) {
        std::memcpy(out, source.accessPixels(), sourceBytes);
        std::memset(out + sourceBytes, 0x55, resultBytes - sourceBytes);
    };
    for (auto _ : state) {
        if (fresh) {
            fipImage output(FIT_BITMAP, pictureWidth, resultHeight, unsigned(resultBpp));
            write(output.accessPixels());
            benchmark::DoNotOptimize(output.accessPixels());
        } else {
            write(existing.accessPixels());
            benchmark::DoNotOptimize(existing.accessPixels());
        }
    }
    state.counters["MiB"] = double(resultBytes) / mebibyte;
}

// A rendered-looking picture for the preview: 24-bit, or 32-bit with alpha
// fading to 0 in its bottom rows as transparency mode leaves it.
const fipImage& previewSource(int bpp)
{
    static const fipImage source24 = randomPicture(pictureWidth, pictureHeight, 24);
    static const fipImage source32 = [] {
        fipImage image = randomPicture(pictureWidth, pictureHeight, 32);
        for (unsigned y = 0; y < image.getHeight(); ++y) {
            BYTE* line = image.getScanLine(y);
            const BYTE alpha = y < 1000 ? BYTE(y * 255 / 1000) : 255;
            for (unsigned x = 0; x < image.getWidth(); ++x)
                line[4 * x + FI_RGBA_ALPHA] = alpha;
        }
        return image;
    }();
    return bpp == 24 ? source24 : source32;
}

// As the window shows a result: the preview image moved into a pixmap. With
// `trustFormat` the pixmap is told not to look for alpha again, which the
// preview's format already tells.
void previewMine(benchmark::State& state, int bpp, bool pixmap, bool trustFormat)
{
    const fipImage& image = previewSource(bpp);
    const Qt::ImageConversionFlags flags = trustFormat ? Qt::NoOpaqueDetection : Qt::AutoColor;
    const auto show = [&] {
        if (pixmap) {
            const QPixmap shown = QPixmap::fromImage(previewImage(image), flags);
            benchmark::DoNotOptimize(shown.cacheKey());
        } else {
            const QImage shown = previewImage(image);
            benchmark::DoNotOptimize(shown.constBits());
        }
    };
    for (auto _ : state)
        show();
    state.counters["peak_MiB"] = peakMiB(show);
}

// The plain way: wrap the FreeImage buffer, swap to RGB, mirror, convert.
QPixmap qtWay(const fipImage& image)
{
    const int width = int(image.getWidth());
    const int height = int(image.getHeight());
    QImage shown;
    if (image.isTransparent())
        shown = QImage(image.accessPixels(), width, height, QImage::Format_ARGB32)
                    .mirrored(false, true);
    else
        shown = QImage(image.accessPixels(), width, height, QImage::Format_RGB888)
                    .rgbSwapped()
                    .mirrored(false, true);
    return QPixmap::fromImage(shown);
}

void previewQtWay(benchmark::State& state, int bpp)
{
    const fipImage& image = previewSource(bpp);
    for (auto _ : state) {
        const QPixmap pixmap = qtWay(image);
        benchmark::DoNotOptimize(pixmap.cacheKey());
    }
    state.counters["peak_MiB"] = peakMiB([&] { benchmark::DoNotOptimize(qtWay(image)); });
}

// One copy of the preview's bytes (32 bits a pixel, as the pixmap holds them).
void copyBenchmark(benchmark::State& state, bool fresh)
{
    const fipImage& image = previewSource(32);
    const std::size_t bytes = std::size_t(image.getScanWidth()) * image.getHeight();
    std::vector<BYTE> existing(bytes);
    for (auto _ : state) {
        if (fresh) {
            std::unique_ptr<BYTE[]> buffer(new BYTE[bytes]);
            std::memcpy(buffer.get(), image.accessPixels(), bytes);
            benchmark::DoNotOptimize(buffer.get());
        } else {
            std::memcpy(existing.data(), image.accessPixels(), bytes);
            benchmark::DoNotOptimize(existing.data());
        }
    }
    state.counters["MiB"] = double(bytes) / mebibyte;
}

// One frame of the drag preview: the size (or the blur, or the skew) moves by
// one step each frame.
enum class Dragged { Size, Blur, Skew };
void liveBenchmark(benchmark::State& state, int bpp, Direction direction, bool transparent,
                   bool fitted, Dragged dragged = Dragged::Size)
{
    const fipImage& source = picture(bpp);
    const QSize view(1000, 700);
    LivePreview live;
    ReflectionParams params = paramsFor(direction, transparent);
    int step = 0;
    int area = 0;
    for (auto _ : state) {
        if (dragged == Dragged::Blur)
            params.blur = 30 + step++ % 30;
        else if (dragged == Dragged::Skew)
            params.skew = 170 + step++ % 60;
        else
            params.sizePercent = 20 + step++ % 60;
        const QSize full = reflectionResultSize(pictureWidth, pictureHeight, params);
        double scale = 1;
        QRectF visible(
            QPointF((full.width() - view.width()) / 2, (full.height() - view.height()) / 2), view);
        if (fitted) {
            // The zoom the picture has alone in the view; the whole result in view.
            scale = std::min(double(view.width()) / pictureWidth,
                             double(view.height()) / pictureHeight);
            visible = QRectF(QPointF(0, 0), full);
        }
        LivePreview::Frame frame = live.render(source, params, scale, visible);
        area = frame.image.width() * frame.image.height();
        const QPixmap shown = QPixmap::fromImage(std::move(frame.image), Qt::NoOpaqueDetection);
        benchmark::DoNotOptimize(shown.cacheKey());
    }
    state.counters["frame_Mpx"] = area / 1e6;
}

void liveCopyBenchmark(benchmark::State& state, int bpp)
{
    const fipImage& source = picture(bpp);
    LivePreview live;
    const ReflectionParams params = paramsFor(Direction::Bottom, false);
    const double scale = std::min(1000.0 / pictureWidth, 700.0 / pictureHeight);
    for (auto _ : state) {
        live.forget();
        benchmark::DoNotOptimize(live.render(source, params, scale, QRectF(0, 0, 1, 1)).image);
    }
}

void registerAll()
{
    const char* directions[] = {"top", "bottom", "left", "right"};
    const auto add = [](const std::string& name, auto&& function) {
        benchmark::RegisterBenchmark(name.c_str(), function)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(0.5);
    };
    add("Floor/24to24/existing", [](benchmark::State& s) { floorBenchmark(s, 24, 24, false); });
    add("Floor/24to32/existing", [](benchmark::State& s) { floorBenchmark(s, 24, 32, false); });
    add("Floor/32to32/existing", [](benchmark::State& s) { floorBenchmark(s, 32, 32, false); });
    add("Floor/24to24/fresh", [](benchmark::State& s) { floorBenchmark(s, 24, 24, true); });
    add("Floor/24to32/fresh", [](benchmark::State& s) { floorBenchmark(s, 24, 32, true); });
    add("Floor/32to32/fresh", [](benchmark::State& s) { floorBenchmark(s, 32, 32, true); });
    for (int bpp : {24, 32}) {
        for (bool transparent : {false, true}) {
            for (Direction direction :
                 {Direction::Top, Direction::Bottom, Direction::Left, Direction::Right}) {
                const std::string base = "Render/" + std::to_string(bpp) + "/" +
                                         directions[int(direction)] + "/" +
                                         (transparent ? "transparency" : "colour");
                const struct {
                    const char* name;
                    Way way;
                } ways[] = {{"reused", Way::Reused}, {"fresh", Way::Fresh}, {"steps", Way::Steps}};
                for (const auto& way : ways) {
                    const Way w = way.way;
                    add(base + "/" + way.name, [=](benchmark::State& s) {
                        renderBenchmark(s, bpp, direction, transparent, w);
                    });
                }
            }
        }
    }
    // The reflection controls against the plain render of the same run.
    for (int bpp : {24, 32}) {
        for (bool transparent : {false, true}) {
            for (Direction direction :
                 {Direction::Bottom, Direction::Top, Direction::Right, Direction::Left}) {
                const std::string base = "Controls/" + std::to_string(bpp) + "/" +
                                         directions[int(direction)] + "/" +
                                         (transparent ? "transparency" : "colour");
                const struct {
                    const char* name;
                    int opacity, gap, blur, skew;
                    bool contact;
                } controls[] = {
                    {"plain", 100, 0, 0, 0, false},     {"opacity50", 50, 0, 0, 0, false},
                    {"gap100", 100, 100, 0, 0, false},  {"blur30", 100, 0, 30, 0, false},
                    {"skew200", 100, 0, 0, 200, false}, {"skew200blur30", 100, 0, 30, 200, false},
                    {"contact", 100, 0, 0, 0, true}};
                for (const auto& c : controls)
                    add(base + "/" + c.name, [=](benchmark::State& s) {
                        renderBenchmark(s, bpp, direction, transparent, Way::Reused, c.opacity,
                                        c.gap, c.blur, c.skew, c.contact);
                    });
            }
        }
    }
    add("Copy/32/existing", [](benchmark::State& s) { copyBenchmark(s, false); });
    add("Copy/32/fresh", [](benchmark::State& s) { copyBenchmark(s, true); });
    for (int bpp : {24, 32}) {
        const std::string base = "Preview/" + std::to_string(bpp) + "/";
        add(base + "mine", [=](benchmark::State& s) { previewMine(s, bpp, true, false); });
        add(base + "mine-no-opaque-detection",
            [=](benchmark::State& s) { previewMine(s, bpp, true, true); });
        add(base + "image-only", [=](benchmark::State& s) { previewMine(s, bpp, false, false); });
        add(base + "qt-way", [=](benchmark::State& s) { previewQtWay(s, bpp); });
    }
    for (int bpp : {24, 32}) {
        const std::string depth = "Live/" + std::to_string(bpp) + "/";
        for (Direction direction : {Direction::Bottom, Direction::Left}) {
            for (bool transparent : {false, true}) {
                const std::string base = depth + directions[int(direction)] + "/" +
                                         (transparent ? "transparency" : "colour") + "/";
                for (bool fitted : {true, false}) {
                    add(base + (fitted ? "fitted" : "actual"), [=](benchmark::State& s) {
                        liveBenchmark(s, bpp, direction, transparent, fitted);
                    });
                }
            }
        }
        for (Direction direction : {Direction::Bottom, Direction::Left}) {
            for (bool fitted : {true, false}) {
                add(depth + directions[int(direction)] + "/colour/blur30/" +
                        (fitted ? "fitted" : "actual"),
                    [=](benchmark::State& s) {
                        liveBenchmark(s, bpp, direction, false, fitted, Dragged::Blur);
                    });
                add(depth + directions[int(direction)] + "/transparency/skew200/" +
                        (fitted ? "fitted" : "actual"),
                    [=](benchmark::State& s) {
                        liveBenchmark(s, bpp, direction, true, fitted, Dragged::Skew);
                    });
            }
        }
        add(depth + "copy", [=](benchmark::State& s) { liveCopyBenchmark(s, bpp); });
    }
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    // Pixmaps need an application; no window is shown.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    registerAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
