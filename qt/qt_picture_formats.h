#pragma once
// Qt's image formats for the picture loader.

#include <QImage>
#include <optional>
#include <span>

#include "platform/picture.h"

namespace velmora::qt {

// Registers, once per process, a picture decoder that reads every format Qt's image plugins read
// (PNG, JPEG, ICO, XPM, ... and GIF, though the built-in GIF decoder comes first). Safe to call
// again: later calls do nothing. Call after the QGuiApplication exists.
void RegisterQtPictureFormats();

// The decoder itself: the first image of `bytes` as top-down 0x00RRGGBB pixels, with an opacity
// per pixel (alpha 128 and above counts as opaque) when the image has any non-opaque pixel.
// nullopt for bytes Qt cannot read.
std::optional<platform::DecodedImage> DecodeWithQt(std::span<const std::uint8_t> bytes);

// A picture as a QImage (ARGB32, transparent where the picture is); a null image for null.
QImage ImageFromPicture(const platform::PictureRef& picture);

}  // namespace velmora::qt
