// SPDX-License-Identifier: GPL-3.0-or-later
#include "glassmere.h"

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>
#include <QWindow>

#include <exception>
#include <thread>

namespace {

// Drops the user's input while the window is busy. Dropped, not delayed: a
// click that arrived during the work must not act once it is done (the second
// click of a double click would start the batch again).
// Work that can be stopped hears of Escape and of a request to close the
// window; the close itself is refused, the work decides what follows.
class InputBlocker : public QObject {
public:
    InputBlocker(QWidget* busyWindow, const std::function<void(bool)>& stopWork)
        : window(busyWindow), stop(stopWork)
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (stop && event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            stop(false);
            return true;
        }
        if (event->type() == QEvent::Close) {
            if (stop && (watched == window || watched == window->windowHandle()))
                stop(true);
            event->ignore();
            return true;
        }
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
            return true;
        default:
            return false;
        }
    }

private:
    QWidget* window;
    std::function<void(bool)> stop;
};

} // namespace

void Glassmere::RunBusy(const std::function<void()>& work, const std::function<void(bool)>& stop)
{
    // A change still settling goes first: `work` may save or copy the result.
    if (settleTimer->isActive())
        RenderChangedSettings();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    liveTimer->stop(); // no frame may render into the result that `work` may be reading
    InputBlocker blocker(this, stop);
    qApp->installEventFilter(&blocker);

    // The window keeps painting (the closed dialog's area, the progress bar)
    // while the work runs on a thread of its own.
    QEventLoop loop;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();

    // Input that came in meanwhile and still waits in the queue is dropped too.
    QCoreApplication::processEvents();
    qApp->removeEventFilter(&blocker);
    QApplication::restoreOverrideCursor();
    if (failure)
        std::rethrow_exception(failure);
}
