#pragma once
// The skin window's rounded shape on each platform and at any device pixel ratio.
//
// X11 (xcb): the window is opaque and the X server cuts it to its shape, which works with and
// without a compositing manager (a bare X server has none). At a device pixel ratio of 1 the
// shape is the widget's mask; at other ratios it is cut in device pixels (a logical region
// scaled up would step the corners in blocks of the ratio).
// Wayland and the rest: a compositor always composites and a mask only limits input, so the
// window is translucent, its skin painted with antialiased corners over transparency, and the
// mask is its input region.

#include <QColor>
#include <QImage>
#include <QRegion>
#include <QSize>

class QWidget;

namespace velmora::app {

// True when windows are shaped by translucency here (not X11). Needs the QGuiApplication.
bool ShapesByTranslucency();

// Cuts the top-level `window` to a rectangle with corner ellipses of `ellipse` x `ellipse`
// pixels as described above; creates its native window when it has none yet.
void ApplyWindowShape(QWidget* window, int ellipse);

// The skin picture for device pixel ratio `ratio`: above 1 the skin drawn at two device pixels
// per pixel (:/assets/skin@2x.gif), else the plain one (:/assets/skin.gif). Where neither loads,
// a plain night-blue picture, so the window still paints.
QImage SkinPicture(qreal ratio);

// `skin` drawn over `size` pixels at device pixel ratio `ratio` (the result has that ratio;
// where the device pixels are a whole multiple of the skin's, each skin pixel becomes a block of
// them exactly, otherwise neighbours are blended),
// made transparent outside the rectangle with corner ellipses of `ellipse` pixels, with
// antialiased edges. Pixels of `key` (the skin's colour for "outside the window") first take
// the colour of the nearest other pixel of their row, so no trace of the key shows along the
// edge. A null `skin` gives a transparent image.
QImage RoundedSkin(const QImage& skin, QColor key, QSize size, qreal ratio, int ellipse);

}  // namespace velmora::app
