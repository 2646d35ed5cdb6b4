#pragma once
// Picture objects: an image made from a file's bytes that keeps those bytes, reports its size
// and draws itself into a device context. Pictures are shared and immutable once made.
//
// A registry of decoders turns bytes into pictures. GIF (first image, through our own LZW
// decoder) and uncompressed BMP are built in; a host may register more (the Qt layer adds every
// format Qt reads). A GIF picture learns its size from the file's blocks and decodes its pixels
// only when they are first needed (Image or Render): a picture that is only passed on, saved or
// asked for its bytes never decodes.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/raster.h"

namespace velmora::platform {

// What a decoder produces: top-down pixels 0x00RRGGBB, and an opacity per pixel (empty when every
// pixel is opaque; a transparent pixel is not drawn by Render).
struct DecodedImage {
  int width = 0;
  int height = 0;
  std::vector<RgbQuad> pixels;
  std::vector<std::uint8_t> opaque;
};

struct PictureSize {
  int width = 0;
  int height = 0;
};

// A decoder returns nullopt for bytes it does not recognise or cannot decode.
using PictureDecoder = std::function<std::optional<DecodedImage>(std::span<const std::uint8_t>)>;

class Picture {
 public:
  // A picture of pixels decoded already.
  Picture(std::vector<std::uint8_t> sourceBytes, DecodedImage image);
  // A picture of `size` whose pixels `decode` makes from the source bytes the first time they are
  // needed. Should it give nothing then, or an image of another size, or throw, the picture
  // keeps its size and has no pixels: Image() is empty and Render draws nothing.
  Picture(std::vector<std::uint8_t> sourceBytes, PictureSize size, PictureDecoder decode);

  // Size in picture units, which here are pixels.
  int Width() const { return size_.width; }
  int Height() const { return size_.height; }

  // The exact bytes the picture was made from; serialising the picture writes exactly these.
  const std::vector<std::uint8_t>& SourceBytes() const { return sourceBytes_; }
  // The pixels, decoded by the first call of a picture made with a decoder. Safe to call from
  // several threads at once: one decodes, the others wait for it.
  const DecodedImage& Image() const;

  // Draws the source rectangle (xSrc, ySrc, cxSrc, cySrc), in picture units with the y axis
  // pointing up (the picture's bottom row is y 0), onto the destination rectangle (x, y, cx, cy)
  // of `dc` in pixels. Source (0, Height(), Width(), -Height()) draws the whole picture upright;
  // at 1:1 a pixel of colour (0, 0, i) lands in an 8-bit target whose table is the index palette
  // as index i. Transparent pixels leave the target alone.
  void Render(DeviceContext& dc, int x, int y, int cx, int cy, int xSrc, int ySrc, int cxSrc,
              int cySrc) const;

 private:
  std::vector<std::uint8_t> sourceBytes_;
  PictureSize size_;
  PictureDecoder decode_;  // empty once image_ holds the pixels
  mutable std::once_flag decoded_;
  mutable DecodedImage image_;
};

using PictureRef = std::shared_ptr<const Picture>;

// Adds a decoder tried after the built-in ones (and after those registered before it).
void RegisterPictureDecoder(std::string name, PictureDecoder decoder);

// Makes a picture from an image file in memory, or returns null. Never throws.
PictureRef PictureFromBytes(std::span<const std::uint8_t> bytes);
// The same for bytes the caller gives up (a file just made, such as an encoded frame): the
// picture keeps them instead of a copy. Afterwards `bytes` holds nothing the caller can count on.
PictureRef PictureFromBytes(std::vector<std::uint8_t>&& bytes);

}  // namespace velmora::platform
