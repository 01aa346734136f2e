// SPDX-License-Identifier: GPL-3.0-or-later
// The window's own handlers for a settings change at 6000 x 4000, from the
// handler to the view painted again:
//
//   build/bench/bench_window
//
// Window/<depth>/<change>   direction, transparency, colour (the colour timed
//                           from the colour dialog's answer), and a release of
//                           each slider: size, depth, opacity, gap, blur, skew;
//                           ten wheel notches on the size slider, timed from the
//                           end of the 200 ms pause after the last one (renders:
//                           how many renders they made, 1 each time)

#include "random_picture.h"
#include "tests/support/dialogdriver.h"
#include "tests/support/testaccess.h"

#include <QApplication>
#include <QColorDialog>
#include <QElapsedTimer>
#include <QSlider>
#include <QWheelEvent>

#include <FreeImagePlus.h>
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

enum class Change { Direction, Slider, Transparency, Colour, Wheel };

// A slider released at one of two values in turn.
struct SliderChange {
    const char* name = "";
    int first = 0;
    int second = 0;
};

// The window as a user has it: a 6000 x 4000 picture fitted in a view of
// about 1000 x 700; each iteration changes one setting through its handler
// and paints the view again.
void windowBenchmark(benchmark::State& state, int bpp, Change change, SliderChange moved = {})
{
    Glassmere window;
    auto& ui = A::ui(window);
    window.show();
    window.resize(window.size() + QSize(1000, 700) - ui.graphicsView->size());
    QApplication::processEvents();
    A::source(window) = randomPicture(6000, 4000, bpp);
    A::render(window);
    A::fit(window);
    QApplication::processEvents();

    DialogDriver driver;
    int step = 0;
    qsizetype renders = 0;
    for (auto _ : state) {
        const bool odd = step++ % 2 != 0;
        QElapsedTimer clock;
        clock.start();
        double settled = 0;
        switch (change) {
        case Change::Direction:
            (odd ? ui.checkBoxBottom : ui.checkBoxLeft)->setChecked(true);
            break;
        case Change::Slider: {
            auto* slider = window.findChild<QSlider*>(moved.name);
            slider->setValue(odd ? moved.first : moved.second);
            Q_EMIT slider->sliderReleased();
            break;
        }
        case Change::Transparency:
            ui.cbTransparent->setChecked(!odd);
            break;
        case Change::Wheel: {
            const qsizetype before = A::undoSteps(window);
            for (int notch = 0; notch < 10; ++notch) {
                QWheelEvent wheel(QPointF(5, 5), QPointF(ui.refSize->mapToGlobal(QPoint(5, 5))),
                                  QPoint(), QPoint(0, odd ? 120 : -120), Qt::NoButton,
                                  Qt::NoModifier, Qt::NoScrollPhase, false);
                QApplication::sendEvent(ui.refSize, &wheel);
            }
            clock.start();
            while (A::undoSteps(window) == before && clock.elapsed() < 2000)
                QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            ui.graphicsView->viewport()->repaint();
            settled = double(clock.nsecsElapsed()) / 1e9 - 0.2; // less the settle interval
            // A second render, were there one, would come within another pause.
            QElapsedTimer more;
            more.start();
            while (more.elapsed() < 250)
                QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            renders += A::undoSteps(window) - before;
            break;
        }
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
        if (change != Change::Wheel) {
            ui.graphicsView->viewport()->repaint();
            settled = double(clock.nsecsElapsed()) / 1e9;
        }
        state.SetIterationTime(settled);
    }
    state.counters["view_px"] = ui.graphicsView->width() * ui.graphicsView->height();
    if (change == Change::Wheel)
        state.counters["renders"] =
            benchmark::Counter(double(renders), benchmark::Counter::kAvgIterations);
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
        SliderChange moved;
    } changes[] = {{"direction", Change::Direction, {}},
                   {"size", Change::Slider, {"refSize", 40, 60}},
                   {"depth", Change::Slider, {"refDepth", 30, 70}},
                   {"opacity", Change::Slider, {"refOpacity", 100, 60}},
                   {"gap", Change::Slider, {"refGap", 0, 40}},
                   {"blur", Change::Slider, {"refBlur", 0, 20}},
                   {"skew", Change::Slider, {"refSkew", 0, 200}},
                   {"transparency", Change::Transparency, {}},
                   {"colour", Change::Colour, {}},
                   {"wheel", Change::Wheel, {}}};
    for (int bpp : {24, 32}) {
        for (const auto& change : changes) {
            const Change c = change.change;
            const SliderChange moved = change.moved;
            benchmark::RegisterBenchmark(
                ("Window/" + std::to_string(bpp) + "/" + change.name).c_str(),
                [=](benchmark::State& s) { windowBenchmark(s, bpp, c, moved); })
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime()
                ->Iterations(12);
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
