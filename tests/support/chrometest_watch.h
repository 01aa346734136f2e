#pragma once

// Hands the first visible top-level widget of a class (a popup menu, the about
// box, a file dialog) to a test function while the code under test blocks in
// its exec(). A short repeating timer looks for it; after the timeout every
// popup and modal dialog is closed so that a failing test cannot hang.

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class ChromeWatch : public QObject {
public:
    template <class T> void whenShown(std::function<void(T*)> act, int timeoutMs = 5000)
    {
        auto* timer = new QTimer(this);
        auto waited = std::make_shared<int>(0);
        timer->setInterval(10);
        connect(timer, &QTimer::timeout, this, [this, timer, waited, act, timeoutMs] {
            *waited += timer->interval();
            if (T* widget = visibleTopLevel<T>()) {
                timer->stop();
                timer->deleteLater();
                ++seen;
                act(widget);
                return;
            }
            if (*waited > timeoutMs) {
                timer->stop();
                timer->deleteLater();
                ++timedOut;
                closeEverythingThatBlocks();
            }
        });
        timer->start();
    }

    template <class T> static T* visibleTopLevel()
    {
        const QList<QWidget*> windows = QApplication::topLevelWidgets();
        for (QWidget* window : windows) {
            if (T* widget = qobject_cast<T*>(window); widget && widget->isVisible())
                return widget;
        }
        return nullptr;
    }

    static void closeEverythingThatBlocks();

    int seen = 0;
    int timedOut = 0;
};
