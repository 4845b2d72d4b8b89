#pragma once
// The image views' own pointer cursors, drawn in code: the sight shown while the pointer moves
// over an image, and the zoom-in and zoom-out magnifiers. Each is black with a white rim, so it
// shows on dark and bright pictures alike. Make them once a QGuiApplication runs and keep them
// with the window that uses them.
#include <QCursor>

namespace korvi::gui
{

QCursor MakeSightCursor();   // a ring with four ticks, hot spot at its centre
QCursor MakeZoomInCursor();  // a magnifier with "+", hot spot at the centre of the lens
QCursor MakeZoomOutCursor(); // a magnifier with "-"

} // namespace korvi::gui
