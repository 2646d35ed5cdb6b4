#pragma once
// PNG files of 8-bit images for the frame files, compressed with one zlib stream that serves
// every file.

#include <cstdint>
#include <span>
#include <vector>

#include <zlib.h>

namespace velmora::anigif {

// A PNG encoder for bit depth 8 without interlacing: palette images (colour type 3) and RGB
// images (colour type 2). Rows come with their filter type byte in front, as they go into the
// compressed stream. Not for use from two threads at once.
class PngEncoder {
 public:
  PngEncoder();
  ~PngEncoder();
  PngEncoder(const PngEncoder&) = delete;
  PngEncoder& operator=(const PngEncoder&) = delete;

  // Replaces `file` with the PNG file of a width x height image. `rows` holds height rows of
  // 1 + width bytes (palette indices) or 1 + 3 x width bytes (red, green, blue), each led by its
  // filter type byte; `palette` holds 1 to 256 RGB triples for a palette image and is empty for
  // an RGB one. False, with `file` unspecified, when the sizes do not fit or zlib fails.
  bool Encode(int width, int height, std::span<const std::uint8_t> rows,
              std::span<const std::uint8_t> palette, std::vector<std::uint8_t>& file);

 private:
  z_stream stream_{};
  bool ready_ = false;
};

}  // namespace velmora::anigif
