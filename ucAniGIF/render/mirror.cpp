#include <algorithm>

#include "platform/raster.h"
#include "ucAniGIF/render/renderer.h"

namespace velmora {

namespace {

constexpr std::int32_t kFirstFrameOnlyMirrored = 0x20;
constexpr std::int32_t kFlipLeftRight = 1;
constexpr std::int32_t kFlipTopBottom = 2;

// Mirrors the rectangle (x, y, width, height) of the bitmap selected in `dc` onto itself: one
// stretching copy whose source starts at the far edge with a negative extent.
void FlipInPlace(platform::DeviceContext& dc, int x, int y, int width, int height,
                 std::int32_t flips) {
  if (width < 1 || height < 1) return;
  int srcX = x;
  int srcWidth = width;
  int srcY = y;
  int srcHeight = height;
  if ((flips & kFlipLeftRight) != 0) {
    srcX = x + width - 1;
    srcWidth = -width;
  }
  if ((flips & kFlipTopBottom) != 0) {
    srcY = y + height - 1;
    srcHeight = -height;
  }
  platform::StretchBlt(dc, x, y, width, height, dc, srcX, srcY, srcWidth, srcHeight,
                       platform::Rop::kSrcCopy);
}

}  // namespace

void MirrorFrames(GifDocument& doc, std::int32_t& mirrored, std::int32_t newStyle,
                  bool firstFrameOnly, bool includeCanvas) {
  std::int32_t first = 1;
  if ((mirrored & kFirstFrameOnlyMirrored) != 0) {
    mirrored &= ~kFirstFrameOnlyMirrored;
    first = 2;
  }
  const std::int32_t flips = (mirrored ^ newStyle) & (kFlipLeftRight | kFlipTopBottom);
  if (flips == 0) return;

  const std::int32_t cw = doc.Header.CanvasWidth;
  const std::int32_t ch = doc.Header.CanvasHeight;
  const std::int32_t last = firstFrameOnly ? std::min(1, doc.FrameCount()) : doc.FrameCount();
  for (std::int32_t i = first; i <= last; ++i) {
    GifFrame& f = doc.Frame(i);
    if ((flips & kFlipLeftRight) != 0) f.Left = cw - (f.Left + f.Width);
    if ((flips & kFlipTopBottom) != 0) f.Top = ch - (f.Top + f.Height);
    // The strip may be missing (a failed load); the positions are still kept consistent.
    if (doc.FrameStrip.DC) FlipInPlace(*doc.FrameStrip.DC, f.StripX, 0, f.Width, f.Height, flips);
  }

  CanvasBitmaps& canvas = doc.CompositeCanvas;
  if (!includeCanvas || !canvas.DC || !canvas.Bitmap) return;
  const int width = canvas.Bitmap->Width();
  const int height = canvas.Bitmap->Height();
  FlipInPlace(*canvas.DC, 0, 0, width, height, flips);
  if (!canvas.MaskBitmap) return;
  canvas.DC->SelectObject(canvas.MaskBitmap.get());
  FlipInPlace(*canvas.DC, 0, 0, width, height, flips);
  canvas.DC->SelectObject(canvas.Bitmap.get());
}

}  // namespace velmora
