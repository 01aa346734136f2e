// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Answers what the code under test opens and waits on in an event loop of its
// own: modal dialogs from static calls (QFileDialog::getOpenFileName,
// QMessageBox::warning, QColorDialog::getColor), the about box and popup
// menus. A short repeating timer waits for the expected widget and hands it over.

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <functional>
#include <memory>

// The visible popup or modal widget of class T, once its own event loop runs.
// A timer may fire while a dialog is still being shown (before exec() starts
// its loop): a dialog closed then leaves exec() waiting forever on a hidden
// window, so nothing is answered until an event loop deeper than the caller's
// is running.
template <class T> T* shownInItsLoop(int callerLoopLevel = 0)
{
    QWidget* top = QApplication::activePopupWidget();
    if (!top)
        top = QApplication::activeModalWidget();
    auto* widget = qobject_cast<T*>(top);
    if (!widget || !widget->isVisible() || QThread::currentThread()->loopLevel() <= callerLoopLevel)
        return nullptr;
    return widget;
}

class DialogDriver : public QObject {
public:
    // Calls `answer` with the first such widget of class T; gives up after
    // `timeoutMs` and then closes whatever blocks, so a failing test cannot hang.
    template <class T> void expect(std::function<void(T*)> answer, int timeoutMs = 5000)
    {
        struct Watch {
            int waited = 0;
            int sinceAnswer = -1; // -1 until the widget is answered
            QPointer<T> answeredWidget;
        };
        auto* timer = new QTimer(this);
        auto watch = std::make_shared<Watch>();
        const int callerLoopLevel = QThread::currentThread()->loopLevel();
        const auto stop = [timer] {
            timer->stop();
            timer->deleteLater();
        };
        timer->setInterval(10);
        connect(timer, &QTimer::timeout, this, [=] {
            watch->waited += 10;
            auto* widget = shownInItsLoop<T>(callerLoopLevel);
            if (watch->sinceAnswer >= 0) {
                // A dialog answered before its own event loop was ready may stay
                // open; answer it again rather than hang the test.
                watch->sinceAnswer += 10;
                if (watch->answeredWidget.isNull() || widget != watch->answeredWidget.data())
                    stop();
                else if (watch->sinceAnswer % 500 == 0)
                    answer(widget);
            } else if (widget) {
                watch->answeredWidget = widget;
                watch->sinceAnswer = 0;
                ++answered;
                answer(widget);
            } else if (watch->waited > timeoutMs) {
                stop();
                ++timedOut;
                closeWhatBlocks(callerLoopLevel);
            }
        });
        timer->start();
    }

    int answered = 0;
    int timedOut = 0;

private:
    static void closeWhatBlocks(int callerLoopLevel);
};

// Answers the message box that comes while it lives with OK and keeps what it said.
class MessageBoxCatcher : public DialogDriver {
public:
    explicit MessageBoxCatcher(int timeoutMs = 5000);
    QString said; // "title|text|informative text|details"; empty while none came
};

// QFileDialog::accept is protected; a QDialog pointer reaches it.
void acceptFileDialog(class QFileDialog* dialog, const QString& path);

// Clicks `button`, answers its file dialog with `path` (no overwrite question)
// and the message box that may follow; returns what the box said (see
// MessageBoxCatcher), "" when none came, "no file dialog" when none came.
QString chooseFile(class QAbstractButton* button, const QString& path, int timeoutMs = 5000);
