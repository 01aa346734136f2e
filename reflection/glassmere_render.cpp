// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/glassmere.h"

#include <QTimer>

// The window's render members are thin: the pixel work lives in renderReflection,
// which the batch and the command line share. The window's members speak in
// its integer codes and names; this is the one place they become the core's.

namespace {

// 0 top, 1 bottom, 2 left, 3 right; any other code acts as right.
Direction directionFromCode(int direction)
{
    switch (direction) {
    case 0:
        return Direction::Top;
    case 1:
        return Direction::Bottom;
    case 2:
        return Direction::Left;
    default:
        return Direction::Right;
    }
}

ReflectionParams paramsFromCodes(int direction, int rate, int start, int ge)
{
    ReflectionParams params;
    params.direction = directionFromCode(direction);
    params.sizePercent = rate;
    params.unfadedPercent = start;
    params.extraLines = ge;
    return params;
}

} // namespace

void Glassmere::BottomReflection(fipImage& srcImage, fipImage& dstImage, _RGB bgcolor, int rate,
                                 int start, int ge)
{
    AddImageReflection(srcImage, dstImage, bgcolor, 1, rate, start, ge);
}

void Glassmere::AddImageReflection(fipImage& srcImage, fipImage& dstImage, _RGB bgcolor,
                                   int direction, int rate, int start, int ge)
{
    ReflectionParams params = paramsFromCodes(direction, rate, start, ge);
    params.color = bgcolor;
    params.transparent = transparent; // the mode is the window's, also for the batch
    // On failure (out of memory) the previous result stays in place.
    renderReflection(srcImage, dstImage, params);
}

ReflectionParams Glassmere::currentParams()
{
    ReflectionParams params =
        paramsFromCodes(GetReflectionDirection(), ui.refSize->value(), ui.refDepth->value(), 0);
    params.color = reflectionColor;
    params.transparent = transparent;
    params.opacity = ui.refOpacity->value();
    params.gap = ui.refGap->value();
    params.blur = ui.refBlur->value();
    params.skew = ui.refSkew->value();
    params.contactEdge = ui.cbContactEdge->isChecked();
    return params;
}

void Glassmere::RunReflection()
{
    if (renderHold > 0)
        return;
    liveTimer->stop(); // a frame still due would show older settings
    settleTimer->stop();
    RecordSettled(currentParams());
    if (!sourceImage.isValid())
        return;
    // Into memory kept between renders: a result of a new size costs no fresh pages.
    const ViewSpot spot = ViewedSpot();
    shownParams = currentParams();
    renderReflection(sourceImage, resultImage, shownParams, &resultMemory);
    const bool shownBefore = pixmapItem != nullptr;
    ShowImage(&resultImage);
    sceneLayout = shownParams;
    if (viewFitted)
        KeepFitted();
    else if (shownBefore)
        ReturnToSpot(spot);
    ui.btSavePic->setEnabled(resultImage.isValid());
}
