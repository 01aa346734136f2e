// The window's own handlers for a settings change at 6000 x 4000, from the
// handler to the view painted again:
//
//   build/bench/bench_window
//
// Window/<depth>/<change>   direction, size, depth, transparency, colour (the
//                           colour timed from the colour dialog's answer)

#include "tests/support/dialogdriver.h"
#include "tests/support/testaccess.h"

#include <QApplication>
#include <QColorDialog>
#include <QElapsedTimer>

#include <FreeImagePlus.h>
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

// Random bytes, as bench_render's pictures.
fipImage makePicture(int bpp)
{
    fipImage image(FIT_BITMAP, 6000, 4000, unsigned(bpp));
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    BYTE* bits = image.accessPixels();
    const std::size_t size = std::size_t(image.getScanWidth()) * image.getHeight();
    for (std::size_t i = 0; i < size; i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(bits + i, &state, std::min<std::size_t>(8, size - i));
    }
    return image;
}

enum class Change { Direction, Size, Depth, Transparency, Colour };

// The window as a user has it: a 6000 x 4000 picture fitted in a view of
// about 1000 x 700; each iteration changes one setting through its handler
// and paints the view again.
void windowBenchmark(benchmark::State& state, int bpp, Change change)
{
    Glassmere window;
    auto& ui = A::ui(window);
    window.show();
    window.resize(window.size() + QSize(1000, 700) - ui.graphicsView->size());
    QApplication::processEvents();
    A::source(window) = makePicture(bpp);
    A::render(window);
    A::fit(window);
    QApplication::processEvents();

    DialogDriver driver;
    int step = 0;
    for (auto _ : state) {
        const bool odd = step++ % 2 != 0;
        QElapsedTimer clock;
        clock.start();
        switch (change) {
        case Change::Direction:
            (odd ? ui.checkBoxBottom : ui.checkBoxLeft)->setChecked(true);
            break;
        case Change::Size:
            ui.refSize->setValue(odd ? 40 : 60);
            Q_EMIT ui.refSize->sliderReleased();
            break;
        case Change::Depth:
            ui.refDepth->setValue(odd ? 30 : 70);
            Q_EMIT ui.refDepth->sliderReleased();
            break;
        case Change::Transparency:
            ui.cbTransparent->setChecked(!odd);
            break;
        case Change::Colour:
            // Timed from the answer: the dialog itself is the user's time.
            driver.expect<QColorDialog>([&, odd](QColorDialog* dialog) {
                dialog->setCurrentColor(odd ? Qt::white : QColor(40, 80, 160));
                clock.start();
                dialog->accept();
            });
            ui.btColorPicker->click();
            break;
        }
        ui.graphicsView->viewport()->repaint();
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
    }
    state.counters["view_px"] = ui.graphicsView->width() * ui.graphicsView->height();
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    // The window is drawn offscreen unless a display is asked for.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const struct {
        const char* name;
        Change change;
    } changes[] = {{"direction", Change::Direction},
                   {"size", Change::Size},
                   {"depth", Change::Depth},
                   {"transparency", Change::Transparency},
                   {"colour", Change::Colour}};
    for (int bpp : {24, 32}) {
        for (const auto& change : changes) {
            const Change c = change.change;
            benchmark::RegisterBenchmark(
                ("Window/" + std::to_string(bpp) + "/" + change.name).c_str(),
                [=](benchmark::State& s) { windowBenchmark(s, bpp, c); })
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime()
                ->Iterations(12);
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
