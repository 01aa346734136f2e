#include "mainwindow/glassmere.h"

#include <QTimer>

// The window's render members are thin: the pixel work lives in renderReflection,
// which the batch and the command line share.

void Glassmere::BottomReflection(fipImage& srcImage, fipImage& dstImage, _RGB bgcolor, int rate,
                                 int start, int ge)
{
    AddImageReflection(srcImage, dstImage, bgcolor, 1, rate, start, ge);
}

void Glassmere::AddImageReflection(fipImage& srcImage, fipImage& dstImage, _RGB bgcolor,
                                   int direction, int rate, int start, int ge)
{
    ReflectionParams params;
    params.direction = direction;
    params.rate = rate;
    params.start = start;
    params.ge = ge;
    params.color = bgcolor;
    params.transparent = transparent; // the mode is the window's, also for the batch
    // On failure (out of memory) the previous result stays in place.
    renderReflection(srcImage, dstImage, params);
}

ReflectionParams Glassmere::CurrentReflectionParams()
{
    ReflectionParams params;
    params.direction = GetReflectionDirection();
    params.rate = ui.refSize->value();
    params.start = ui.refDepth->value();
    params.ge = 0;
    params.color = reflectionColor;
    params.transparent = transparent;
    params.opacity = ui.refOpacity->value();
    params.gap = ui.refGap->value();
    params.blur = ui.refBlur->value();
    return params;
}

void Glassmere::RunReflection()
{
    if (renderHold > 0)
        return;
    liveTimer->stop(); // a frame still due would show older settings
    if (!sourceImage.isValid())
        return;
    // Into memory kept between renders: a result of a new size costs no fresh pages.
    renderReflection(sourceImage, resultImage, CurrentReflectionParams(), &resultMemory);
    ShowImage(&resultImage);
    if (viewFitted)
        KeepFitted();
}
