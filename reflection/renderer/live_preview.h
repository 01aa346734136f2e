// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/pixels/pixel_memory.h"
#include "reflection/renderer/reflection_renderer.h"

#include <FreeImagePlus.h>
#include <QImage>
#include <QRectF>
#include <QSize>

// The preview of a setting that changes continuously (a slider being
// dragged). A frame costs about as many pixels as the screen shows, whatever
// the picture's size: it is rendered from a copy of the picture at the scale
// the view shows it (point-sampled as the view samples the full result, so
// it looks the same), and only across the part of the result in view; at
// full scale the picture itself is read.
class LivePreview {
public:
    struct Frame {
        QImage image;     // what to show, top-down
        QRectF target;    // where it lies, in pixels of the full result
        QSize resultSize; // the full result's size for these settings
    };

    // One frame of `source` rendered with `params`. `scale` is how many
    // device pixels a pixel of the full result covers (1 at actual size;
    // values above 1 act as 1), `visible` the part of the full result in
    // view, in its pixels. A null image when the picture is empty or memory
    // runs out.
    Frame render(const fipImage& source, const ReflectionParams& params, double scale,
                 const QRectF& visible);

    // The full result's size for these settings, as render() gives it.
    QSize resultSize(const fipImage& source, const ReflectionParams& params);

    // Drops the scaled copy; the next frame makes a new one. Needed whenever
    // the picture changes.
    void forget();

private:
    // The picture with the contact edge's margin taken away (a view of it),
    // found once per picture, edge and mode; the source itself without the
    // contact edge.
    const fipImage& contacted(const fipImage& source, const ReflectionParams& params);

    // The picture to render from: the source, or a copy at `copyScale`.
    FIBITMAP* sourceAt(const fipImage& source, double scale);

    fipImage copy;        // the picture at copyScale, or a standard copy at scale 1
    double copyScale = 0; // 0: no copy
    FIBITMAP* copiedFrom = nullptr;
    fipImage contactStandard; // a picture of another layout, brought to the renderer's
    fipImage contactView;     // the picture without its margin
    FIBITMAP* contactFrom = nullptr;
    Direction contactDirection = Direction::Bottom;
    bool contactTransparent = false;
    PixelMemory memory; // the frames' render target, kept between frames
    fipImage output;     // the latest frame's render, over `memory`
};
