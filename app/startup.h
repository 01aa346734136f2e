#pragma once

#include <QPoint>
#include <QSize>

class QApplication;

// Runs the program inside an existing application object: checks that "skin"
// and "app_zh.qm" lie in `folder`, installs the translation, shows the centred
// window and runs the event loop. Returns the loop's result, or 0 after the
// refusal box when a required file is missing.
int runGlassmere(QApplication& app, const QString& folder);

// Top-left corner that centres a window on the whole screen; integer division
// truncates toward zero, so a window larger than the screen goes negative.
QPoint centredPosition(const QSize& screen, const QSize& window);
