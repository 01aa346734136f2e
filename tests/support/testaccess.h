// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Tests reach the window's state the way the window's own code does: this is
// the one friend the window declares.

#include "mainwindow/glassmere.h"

class GlassmereTestAccess {
public:
    static Ui::GlassmereClass& ui(Glassmere& w) { return w.ui; }
    static fipImage& source(Glassmere& w) { return w.sourceImage; }
    static fipImage& result(Glassmere& w) { return w.resultImage; }
    // What the labels say about the open file: "name|type|size|width*height".
    static QString labels(Glassmere& w)
    {
        return QStringList{w.ui.lbName->text(), w.ui.lbType->text(), w.ui.lbSize->text(),
                           w.ui.lbDim->text()}
            .join('|');
    }
    static QGraphicsPixmapItem* item(Glassmere& w) { return w.pixmapItem; }
    static bool maximized(const Glassmere& w) { return w.maximized; }
    static void maximise(Glassmere& w) { w.on_btnMax_clicked(); }
    static int direction(Glassmere& w) { return w.GetReflectionDirection(); }
    static void render(Glassmere& w) { w.RunReflection(); }
    // The window's own render member, with its integer direction code.
    static void addReflection(Glassmere& w, fipImage& source, fipImage& result, int direction)
    {
        w.AddImageReflection(source, result, w.reflectionColor, direction, 40, 30, 0);
    }
    static void fit(Glassmere& w) { w.on_pbFit_clicked(); }
    // Settled changes that undo can go back through.
    static qsizetype undoSteps(const Glassmere& w) { return w.undoSteps.size(); }
    static void open(Glassmere& w, const QString& path) { w.OpenPicture(path); }
    // As opening does it, without a file: the picture, a render and a fit.
    static void open(Glassmere& w, const fipImage& picture)
    {
        w.sourceImage = picture;
        w.ui.graphicsView->resetTransform();
        w.RunReflection();
        w.on_pbFit_clicked();
    }
};
using A = GlassmereTestAccess;
