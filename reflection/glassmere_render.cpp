#include "mainwindow/glassmere.h"

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

void Glassmere::RunReflection()
{
    if (!sourceImage.isValid())
        return;
    AddImageReflection(sourceImage, resultImage, reflectionColor, GetReflectionDirection(),
                       ui.refSize->value(), ui.refDepth->value(), 0);
    ShowImage(&resultImage);
}
