#pragma once

// Answers modal dialogs that the code under test opens with static calls
// (QFileDialog::getOpenFileName, QMessageBox::warning, QColorDialog::getColor):
// a short repeating timer waits for the expected dialog and hands it over.

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <functional>

// The visible modal widget of class T, once its own event loop runs. A timer
// may fire while a dialog is still being shown (before exec() starts its
// loop): a dialog closed then leaves exec() waiting forever on a hidden
// window, so nothing is answered until an event loop deeper than the
// caller's is running.
template <class T> T* modalInItsLoop(int callerLoopLevel = 0)
{
    auto* modal = qobject_cast<T*>(QApplication::activeModalWidget());
    if (!modal || !modal->isVisible() || QThread::currentThread()->loopLevel() <= callerLoopLevel)
        return nullptr;
    return modal;
}

class DialogDriver : public QObject {
public:
    // Calls `answer` with the first active modal widget of class T; gives up after `timeoutMs`.
    template <class T> void expect(std::function<void(T*)> answer, int timeoutMs = 5000)
    {
        auto* timer = new QTimer(this);
        auto waited = std::make_shared<int>(0);
        auto answeredDialog = std::make_shared<QPointer<T>>();
        auto sinceAnswer = std::make_shared<int>(-1); // -1 until the dialog is answered
        const int callerLoopLevel = QThread::currentThread()->loopLevel();
        timer->setInterval(10);
        connect(
            timer, &QTimer::timeout, this,
            [this, timer, waited, answeredDialog, sinceAnswer, answer, timeoutMs, callerLoopLevel] {
                *waited += 10;
                auto* dialog = modalInItsLoop<T>(callerLoopLevel);
                if (*sinceAnswer >= 0) {
                    // A dialog answered before its own event loop was ready may stay
                    // open; answer it again rather than hang the test.
                    *sinceAnswer += 10;
                    if (answeredDialog->isNull() || dialog != answeredDialog->data() ||
                        !dialog->isVisible()) {
                        timer->stop();
                        timer->deleteLater();
                    } else if (*sinceAnswer % 500 == 0) {
                        answer(dialog);
                    }
                    return;
                }
                if (dialog) {
                    *answeredDialog = dialog;
                    *sinceAnswer = 0;
                    ++answered;
                    answer(dialog);
                    return;
                }
                if (*waited > timeoutMs) {
                    timer->stop();
                    timer->deleteLater();
                    ++timedOut;
                    // Close whatever blocks so a failing test does not hang.
                    if (auto* other = modalInItsLoop<QDialog>(callerLoopLevel))
                        other->reject();
                }
            });
        timer->start();
    }

    int answered = 0;
    int timedOut = 0;
};

// QFileDialog::accept is protected; a QDialog pointer reaches it.
void acceptFileDialog(class QFileDialog* dialog, const QString& path);
void rejectDialog(QDialog* dialog);
