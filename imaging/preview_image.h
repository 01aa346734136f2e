#pragma once

#include <QImage>

class fipImage;

// Turns a rendered result into the top-down image the preview shows, in one
// pass: Format_ARGB32_Premultiplied when the picture has transparency,
// Format_RGB32 otherwise (both convert to a pixmap without another pass).
// Any depth is accepted; returns a null image for an empty picture or when
// memory runs out.
QImage previewImage(const fipImage& image);
