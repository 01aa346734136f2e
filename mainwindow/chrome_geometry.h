// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>

// Geometry of the self-drawn chrome, kept apart from the window so that the
// arithmetic can be checked without a screen.
//
//   client area (geometry())
//   +-------------------------------+
//   |  11-pixel transparent band    |
//   |   +-----------------------+   |
//   |   | visible window        |   |
//   |   | (title bar, borders,  |   |
//   |   |  tabs, preview)       |   |
//   |   +-----------------------+   |
//   +-------------------------------+

// The part of a client area of `clientSize` that stays visible under the mask,
// in client coordinates.
QRect visibleArea(const QSize& clientSize);

// Where the maximise command puts the window so that its visible part starts
// at the top-left corner of `available` and covers it. `sideBorder` is the
// width of one side of the system frame, `topBorder` the height of the frame
// above the client area (both 0 for a window without a system frame).
// The result's top-left corner is the frame position to move() to; its size is
// the client size to fix.
QRect maximizedGeometry(const QRect& available, int sideBorder, int topBorder);
