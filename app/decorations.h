#pragma once
// The radio window's two animated decorations, restored from the window's stored form.
//
// The stored form keeps, for each decoration, its position on the window and a property bag
// (app/form/<name>.bag, built into the binary under :/form/): the container's extent in
// hundredths of a millimetre under "_extentx" and "_extenty", and the GIF under "gif". Everything
// else the decorations do comes from the control's defaults: restored in run mode, each loads its
// GIF and animates by itself, looping for ever on its own timer.

#include <QString>
#include <QWidget>
#include <optional>

#include "platform/property_bag.h"

namespace velmora::app {

struct Decorations {
  QWidget* ucAniGIF1 = nullptr;  // 140 x 24 at (16, 40): the signal trace
  QWidget* ucAniGIF2 = nullptr;  // 36 x 30 at (16, 8): the radio mast
};

// Creates both decorations as children of `form` (shown with it), placed at their stored
// positions and sized by their stored extents, and restores each from its bag. A bag that is
// missing or unreadable leaves that decoration empty (nothing drawn) rather than failing the
// window. Also registers Qt's picture formats with the picture loader (once per process).
Decorations CreateDecorations(QWidget* form);

// A decoration's stored bag by its name ("ucAniGIF1", "ucAniGIF2"); nullopt when the form holds
// none or it does not parse.
std::optional<platform::PropertyBag> StoredDecorationBag(const QString& name);

}  // namespace velmora::app
