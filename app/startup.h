// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPoint>
#include <QSize>
#include <QStringList>

class QApplication;
class QLocale;

// Runs the program inside an existing application object: checks that "skin"
// and "app_zh.qm" lie in `folder`, installs the translation for a user who
// reads Chinese (wantsChinese of the default locale), shows the centred
// window, opens the first of `files` (paths or file addresses) if any, and
// runs the event loop. Returns the loop's result, or 0 after the refusal box
// when a required file is missing.
int runGlassmere(QApplication& app, const QString& folder, const QStringList& files = {});

// Whether the window speaks Chinese for a user of `locale`: Chinese comes
// before English among the user's languages (LANGUAGE=zh_CN, LANG=zh_CN.UTF-8).
bool wantsChinese(const QLocale& locale);

// Top-left corner that centres a window on the whole screen; integer division
// truncates toward zero, so a window larger than the screen goes negative.
QPoint centredPosition(const QSize& screen, const QSize& window);
