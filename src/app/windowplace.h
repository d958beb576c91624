// Where the main window and the result viewer go on a screen. Plain
// geometry, so that the rules hold whatever the display.
#pragma once

#include <QMargins>
#include <QRect>

namespace qgrad {

// The window's inner rectangle `kept` moved, and shrunk where it must, so that
// with its frame (title bar and borders) around it the whole lies on `screen`.
QRect KeepOnScreen(const QRect& kept, const QMargins& frame, const QRect& screen);

// The result viewer's inner rectangle: beside the main window's frame
// `window`, on the side of `screen` with more room, where that side has at
// least `leastWidth` for it; otherwise within `commandFree`, a part of the
// main window that holds none of its commands. `frame` is the viewer's own.
QRect PlaceBeside(const QRect& window, const QRect& screen, const QRect& commandFree, const QMargins& frame,
                  int leastWidth);

}  // namespace qgrad
