#pragma once
// Helpers shared by the compositor and renderer tests: documents built by hand with their frame
// strip filled directly (no GIF bytes, no decoding), a host surface, and pixel readers.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/raster.h"
#include "ucAniGIF/render/frame_strip.h"
#include "ucAniGIF/render/gif_document.h"

namespace velmora::testing {

struct FrameSpec {
  int left = 0;
  int top = 0;
  int width = 1;
  int height = 1;
  std::vector<std::uint8_t> indices{};  // width * height, top row first
  int colorTable = 0;
  std::uint8_t transparent = 0;
  std::uint8_t transparentIndex = 0;
  std::uint8_t disposal = 0;
};

// A colour table whose first entries are `colours` (0x00RRGGBB); the count is `count`, or the
// number of colours given when 0.
inline ColorTable Table(const std::vector<std::uint32_t>& colours, int count = 0) {
  ColorTable table{};
  for (std::size_t i = 0; i < colours.size(); ++i) table[i] = colours[i];
  table[kColorCountEntry] = static_cast<std::uint32_t>(count > 0 ? count : colours.size());
  return table;
}

// A built document: frames, tables, the strip (and canvas, as the builder decides for
// `userMode`) with every band filled from the specs, CurrentFrame-ready, scale 1.
inline GifDocument MakeDocument(const std::vector<FrameSpec>& specs,
                                const std::vector<ColorTable>& tables, bool userMode = true) {
  GifDocument doc;
  doc.Tables.ColorTables = tables;
  for (const FrameSpec& s : specs) {
    GifFrame f;
    f.Left = s.left;
    f.Top = s.top;
    f.Width = s.width;
    f.Height = s.height;
    f.ColorTable = s.colorTable;
    f.Transparent = s.transparent;
    f.TransparentIndex = s.transparentIndex;
    f.Disposal = s.disposal;
    doc.Frames.push_back(f);
    doc.Header.CanvasWidth = std::max(doc.Header.CanvasWidth, s.left + s.width);
    doc.Header.CanvasHeight = std::max(doc.Header.CanvasHeight, s.top + s.height);
  }
  doc.Header.ScaleFactorX = doc.Header.ScaleFactorY = 1.0f;
  EXPECT_TRUE(PrepareFrameStrip(doc, userMode));
  const int built = userMode ? doc.FrameCount() : 1;
  int x = 0;
  for (int n = 1; n <= built; ++n) {
    GifFrame& f = doc.Frame(n);
    const FrameSpec& s = specs[static_cast<std::size_t>(n - 1)];
    f.StripX = x;
    x += f.Width;
    for (int y = 0; y < s.height && !s.indices.empty(); ++y) {
      for (int c = 0; c < s.width; ++c) {
        doc.FrameStrip.Bitmap->Row(y)[f.StripX + c] =
            s.indices[static_cast<std::size_t>(y * s.width + c)];
      }
    }
  }
  doc.Tables.ActiveColorTable = -1;
  return doc;
}

// A host surface: a top-down 32-bit bitmap in its own context, like the test host's.
struct Surface {
  std::unique_ptr<platform::DeviceContext> dc;
  std::unique_ptr<platform::Bitmap> bitmap;

  Surface(int width, int height, platform::RgbQuad clear) {
    dc = platform::CreateCompatibleDC(nullptr);
    bitmap = platform::Bitmap::Create(width, -height, 32);
    dc->SelectObject(bitmap.get());
    Clear(clear);
  }
  void Clear(platform::RgbQuad colour) {
    platform::FillRect(*dc, {0, 0, bitmap->Width(), bitmap->Height()},
                       platform::CreateSolidBrush(platform::ColorRefFromRgbQuad(colour)));
  }
  platform::RgbQuad Pixel(int x, int y) const {
    const std::uint8_t* p = bitmap->Row(y) + 4 * x;
    return (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
  }
  // Rows top first, each pixel as 0xRRGGBB, for readable failure messages.
  std::vector<std::vector<platform::RgbQuad>> Pixels() const {
    std::vector<std::vector<platform::RgbQuad>> rows;
    for (int y = 0; y < bitmap->Height(); ++y) {
      rows.emplace_back();
      for (int x = 0; x < bitmap->Width(); ++x) rows.back().push_back(Pixel(x, y));
    }
    return rows;
  }
};

inline platform::RgbQuad CanvasPixel(const GifDocument& doc, int x, int y) {
  const std::uint8_t* p = doc.CompositeCanvas.Bitmap->Row(y) + 3 * x;
  return (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
}

inline int MaskBit(const GifDocument& doc, int x, int y) {
  return (doc.CompositeCanvas.MaskBitmap->Row(y)[x / 8] >> (7 - x % 8)) & 1;
}

// The canvas as rows of pixels, and the mask as rows of '0' / '1'.
inline std::vector<std::vector<platform::RgbQuad>> CanvasPixels(const GifDocument& doc) {
  std::vector<std::vector<platform::RgbQuad>> rows;
  for (int y = 0; y < doc.CompositeCanvas.Bitmap->Height(); ++y) {
    rows.emplace_back();
    for (int x = 0; x < doc.CompositeCanvas.Bitmap->Width(); ++x) {
      rows.back().push_back(CanvasPixel(doc, x, y));
    }
  }
  return rows;
}

inline std::vector<std::string> MaskRows(const GifDocument& doc) {
  std::vector<std::string> rows;
  for (int y = 0; y < doc.CompositeCanvas.MaskBitmap->Height(); ++y) {
    rows.emplace_back();
    for (int x = 0; x < doc.CompositeCanvas.MaskBitmap->Width(); ++x) {
      rows.back().push_back(MaskBit(doc, x, y) != 0 ? '1' : '0');
    }
  }
  return rows;
}

}  // namespace velmora::testing
