#pragma once
// The image files of anigif frames: host surfaces written as binary PPM or as PNG files.

#include <cstdint>
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
  bool Write(const std::string& path, const platform::Bitmap& bitmap);

 private:
  bool WritePpm(const std::string& path, const platform::Bitmap& bitmap);
  bool WritePng(const std::string& path, const platform::Bitmap& bitmap);
  // The palette image as PNG rows into rows_ and palette_; false when the bitmap has more than
  // 256 colours.
  bool MapToPalette(const platform::Bitmap& bitmap);

  ImageFormat format_;
  std::vector<std::uint8_t> rows_;     // PPM: a block of the file; PNG: the rows to compress
  std::vector<std::uint8_t> palette_;  // RGB triples
  std::vector<std::uint8_t> file_;     // the PNG file
  PngEncoder png_;
};

}  // namespace velmora::anigif
