#include "ucAniGIF/render/compositor.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "ucAniGIF/render/frame_strip.h"
#include "ucAniGIF/render/strip_palette.h"

namespace velmora {

namespace {

constexpr int kBytesPerCanvasPixel = 3;

// The part of the frame rectangle that lies inside the canvas bitmap. Frames lie inside the
// canvas by construction; clipping only guards the memory against records changed since.
struct RowSpan {
  int top = 0;
  int rows = 0;
  int left = 0;
  int width = 0;
};

RowSpan ClipToCanvas(const GifFrame& f, const platform::Bitmap& canvas) {
  RowSpan span;
  span.left = std::clamp(f.Left, 0, canvas.Width());
  span.top = std::clamp(f.Top, 0, canvas.Height());
  span.width = std::clamp(f.Width, 0, canvas.Width() - span.left);
  span.rows = std::clamp(f.Height, 0, canvas.Height() - span.top);
  // A frame of zero width has no saved bytes (an empty buffer, whose data() may be null): it
  // must not reach memcpy even with a length of 0.
  if (span.width == 0) span.rows = 0;
  return span;
}

void EmptyCanvas(CanvasBitmaps& canvas) {
  std::memset(canvas.Bitmap->Bits(), 0, canvas.Bitmap->SizeBytes());
  if (canvas.MaskBitmap) std::memset(canvas.MaskBitmap->Bits(), 0xFF, canvas.MaskBitmap->SizeBytes());
}

// The mask is saved and restored in whole bytes: the bytes from the one holding pixel Left
// through the one holding pixel Left + Width - 1. Bits of those bytes outside the rectangle go
// back with the values they had when saved; nothing changes them between the two phases, so the
// restore is exactly the rectangle's. (ScanlineBytes(1, Width) bytes from Left / 8 would stop
// short whenever the rectangle straddles one byte more than its width needs: 32 pixels from
// Left 92 touch bytes 11..15, five bytes, not four.)
struct MaskBytes {
  int first = 0;
  int count = 0;
};

MaskBytes MaskBytesOf(const RowSpan& span) {
  if (span.width <= 0) return {};
  const int first = span.left / 8;
  return {first, (span.left + span.width - 1) / 8 - first + 1};
}

void SaveRectangle(GifDocument& doc, const GifFrame& f, RestoreBuffers& buffers) {
  CanvasBitmaps& canvas = doc.CompositeCanvas;
  const RowSpan span = ClipToCanvas(f, *canvas.Bitmap);
  const std::size_t pixelBytes = static_cast<std::size_t>(f.Width) * kBytesPerCanvasPixel;
  buffers.savedPixels.assign(pixelBytes * static_cast<std::size_t>(f.Height), 0);
  for (int r = 0; r < span.rows; ++r) {
    std::memcpy(buffers.savedPixels.data() + pixelBytes * r,
                canvas.Bitmap->Row(span.top + r) + kBytesPerCanvasPixel * span.left,
                static_cast<std::size_t>(span.width) * kBytesPerCanvasPixel);
  }
  if (!canvas.MaskBitmap) return;
  const MaskBytes bytes = MaskBytesOf(span);
  const auto rowBytes = static_cast<std::size_t>(bytes.count);
  buffers.savedMask.resize(rowBytes * static_cast<std::size_t>(span.rows));
  for (int r = 0; r < span.rows; ++r) {
    std::memcpy(buffers.savedMask.data() + rowBytes * r,
                canvas.MaskBitmap->Row(span.top + r) + bytes.first, rowBytes);
  }
}

void RestoreRectangle(GifDocument& doc, const GifFrame& f, const RestoreBuffers& buffers) {
  CanvasBitmaps& canvas = doc.CompositeCanvas;
  const RowSpan span = ClipToCanvas(f, *canvas.Bitmap);
  const std::size_t pixelBytes = static_cast<std::size_t>(f.Width) * kBytesPerCanvasPixel;
  // Buffers that do not match the frame were not filled by this paint's prepare phase.
  if (buffers.savedPixels.size() == pixelBytes * static_cast<std::size_t>(f.Height)) {
    for (int r = 0; r < span.rows; ++r) {
      std::memcpy(canvas.Bitmap->Row(span.top + r) + kBytesPerCanvasPixel * span.left,
                  buffers.savedPixels.data() + pixelBytes * r,
                  static_cast<std::size_t>(span.width) * kBytesPerCanvasPixel);
    }
  }
  if (!canvas.MaskBitmap) return;
  const MaskBytes bytes = MaskBytesOf(span);
  const auto rowBytes = static_cast<std::size_t>(bytes.count);
  if (buffers.savedMask.size() != rowBytes * static_cast<std::size_t>(span.rows)) return;
  for (int r = 0; r < span.rows; ++r) {
    std::memcpy(canvas.MaskBitmap->Row(span.top + r) + bytes.first,
                buffers.savedMask.data() + rowBytes * r, rowBytes);
  }
}

// One transfer through a palette in which only the transparent index is white: opaque frame
// pixels clear their mask bits (painted), transparent ones leave them. An opaque frame copies
// an all-black palette, painting its whole rectangle.
void MarkPaintedPixels(GifDocument& doc, const GifFrame& f) {
  CanvasBitmaps& canvas = doc.CompositeCanvas;
  if (!doc.FrameStrip.DC) return;
  canvas.DC->SelectObject(canvas.MaskBitmap.get());
  const bool transparent = f.Transparent == 1;
  LoadMaskPalette(doc, f, transparent);
  platform::BitBlt(*canvas.DC, f.Left, f.Top, f.Width, f.Height, *doc.FrameStrip.DC, f.StripX, 0,
                   transparent ? platform::Rop::kSrcAnd : platform::Rop::kSrcCopy);
  canvas.DC->SelectObject(canvas.Bitmap.get());
  doc.Tables.ActiveColorTable = -1;
}

void EmptyRectangle(GifDocument& doc, const GifFrame& f) {
  CanvasBitmaps& canvas = doc.CompositeCanvas;
  const platform::Rect rect{f.Left, f.Top, f.Left + f.Width, f.Top + f.Height};
  platform::FillRect(*canvas.DC, rect, platform::GetStockBrush(platform::kBlackBrush));
  if (!canvas.MaskBitmap) return;
  canvas.DC->SelectObject(canvas.MaskBitmap.get());
  platform::FillRect(*canvas.DC, rect, platform::GetStockBrush(platform::kWhiteBrush));
  canvas.DC->SelectObject(canvas.Bitmap.get());
}

}  // namespace

void ComposeFrame(GifDocument& doc, std::int32_t frameIndex, bool disposePhase,
                  RestoreBuffers& buffers) {
  CanvasBitmaps& canvas = doc.CompositeCanvas;
  if (!canvas.DC || !canvas.Bitmap) return;
  if (frameIndex < 1 || frameIndex > doc.FrameCount()) return;
  const GifFrame& f = doc.Frame(frameIndex);

  if (disposePhase) {
    if (f.Disposal == 2) EmptyRectangle(doc, f);
    if (f.Disposal == 3) RestoreRectangle(doc, f, buffers);
    return;
  }

  // Every paint of frame 1 (a load, a loop wrap, a restart, a repaint) starts from nothing.
  if (frameIndex == 1) EmptyCanvas(canvas);
  if (f.Disposal == 3) SaveRectangle(doc, f, buffers);
  if (canvas.MaskBitmap) MarkPaintedPixels(doc, f);
}

}  // namespace velmora
