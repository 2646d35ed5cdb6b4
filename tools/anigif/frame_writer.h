#pragma once
// The image files of anigif frames: host surfaces written as binary PPM or as PNG files.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/raster.h"
#include "tools/anigif/png_encoder.h"

namespace velmora::anigif {

enum class ImageFormat { kPng, kPpm };

// Writes 32-bit bitmaps (0x00RRGGBB pixels, the fourth byte ignored, rows in either storage
// order) as 8-bit-per-channel images, top row first:
//   PPM: P6, maximum value 255.
//   PNG: an 8-bit palette image when the bitmap has at most 256 distinct colours (entries in the
//        order the colours are first met, rows top to bottom), 8-bit RGB otherwise; no
//        interlacing, no row filters (PngEncoder).
// Either file decodes to exactly the bitmap's colours. The writer keeps its buffers and its
// compressor from one file to the next, so one writer serves every frame of an animation.
class FrameWriter {
 public:
  explicit FrameWriter(ImageFormat format) : format_(format) {}

  // Replaces the file at `path` with `bitmap`. False when the bitmap is not 32 bits per pixel or
  // the file cannot be written (a partial file may be left behind).
  //
  // `changed`, when given, is the caller's word that the bitmap differs from the one of the
  // previous call only inside that rectangle (empty: not at all), as when each frame is
  // repainted over the last in place. A PPM writer then converts only that part again and
  // reuses the rest of the previous file; it converts everything after a failed call, on the
  // first call and when the size changes. The files are the same either way.
  bool Write(const std::string& path, const platform::Bitmap& bitmap,
             std::optional<platform::Rect> changed = std::nullopt);

 private:
  bool WritePpm(const std::string& path, const platform::Bitmap& bitmap,
                std::optional<platform::Rect> changed);
  bool WritePng(const std::string& path, const platform::Bitmap& bitmap);
  // The palette image as PNG rows into rows_ and palette_; false when the bitmap has more than
  // 256 colours.
  bool MapToPalette(const platform::Bitmap& bitmap);

  ImageFormat format_;
  std::vector<std::uint8_t> ppm_;  // the last PPM file, header and rows
  std::size_t ppmHeaderBytes_ = 0;
  int ppmWidth_ = 0;  // the size ppm_ holds; 0 when it holds nothing usable
  int ppmHeight_ = 0;
  std::vector<std::uint8_t> rows_;     // PNG: the rows to compress
  std::vector<std::uint8_t> palette_;  // RGB triples
  std::vector<std::uint8_t> file_;     // the PNG file
  std::unique_ptr<PngEncoder> png_;    // made by the first PNG file: a PPM run needs no zlib
};

}  // namespace velmora::anigif
