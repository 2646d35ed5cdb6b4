#include "ucAniGIF/render/frame_strip.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <optional>
#include <span>
#include <string>

#include "gif/gif_images.h"
#include "gif/gif_lzw.h"
#include "platform/errors.h"
#include "ucAniGIF/render/control_state.h"

namespace velmora {

namespace {

constexpr std::array<std::uint32_t, 256> MakeIndexPalette() {
  std::array<std::uint32_t, 256> palette{};
  for (std::uint32_t i = 0; i < 256; ++i) palette[i] = i;
  return palette;
}
constexpr std::array<std::uint32_t, 256> kIndexPalette = MakeIndexPalette();

// What the first pass learns from the frame records before anything is created.
struct StripPlan {
  std::int64_t width = 0;
  std::int64_t height = 0;
  bool anyTransparent = false;
  bool allRestoreBackground = true;
  bool needMask = false;
  bool withCanvas = false;
};

StripPlan PlanStrip(const GifDocument& doc, bool userMode) {
  StripPlan plan;
  for (const GifFrame& f : doc.Frames) {
    plan.width += f.Width;
    plan.height = std::max<std::int64_t>(plan.height, f.Height);
    if (f.Transparent == 1) plan.anyTransparent = true;
    if (f.Disposal != 2) plan.allRestoreBackground = false;
    if (f.Disposal == 2 || f.Disposal == 3) plan.needMask = true;
  }

  const GifFrame& first = doc.Frames.front();
  if (!userMode || doc.FrameCount() == 1) {
    // Only frame 1 will ever be built: design mode shows a still, a single frame needs no more.
    plan.width = first.Width;
    plan.height = first.Height;
    return plan;
  }
  // Frames that all restore to background never show each other: the host's own cleared
  // surface does the compositing, so direct drawing is enough.
  if (plan.allRestoreBackground) return plan;

  plan.withCanvas = true;
  if (!plan.needMask) {
    const bool firstCoversCanvas = first.Width == doc.Header.CanvasWidth &&
                                   first.Height == doc.Header.CanvasHeight;
    plan.needMask = first.Transparent == 1 || (plan.anyTransparent && !firstCoversCanvas);
  }
  return plan;
}

bool CreateFrameStrip(GifDocument& doc, std::int64_t width, std::int64_t height) {
  if (width <= 0 || height <= 0 || width > std::numeric_limits<std::int32_t>::max() ||
      height > std::numeric_limits<std::int32_t>::max()) {
    return false;
  }
  const auto w = static_cast<std::int32_t>(width);
  const auto h = static_cast<std::int32_t>(height);
  // Bitmap::Create applies the raster layer's own size bound on top of this, which is what
  // turns hostile dimensions into a failed load rather than a huge allocation.

  StripBitmap& strip = doc.FrameStrip;
  strip.DC = platform::CreateCompatibleDC(nullptr);
  if (!strip.DC) return false;
  strip.Bitmap = platform::Bitmap::Create(w, h, 8, kIndexPalette);
  if (!strip.Bitmap) {
    strip.DC.reset();
    return false;
  }
  strip.Bits = strip.Bitmap->Bits();
  strip.PreviousBitmap = strip.DC->SelectObject(strip.Bitmap.get());
  return true;
}

// Decodes frame i's image (image descriptor at FrameSpans(i).Start) into its band. The span is
// clipped to GifBytes: a file cut inside the image data still decodes the rows that exist, and
// the decoder leaves the rest of the band as it was.
void DecodeFrameIntoBand(GifDocument& doc, std::int32_t number) {
  const GifFrame& f = doc.Frame(number);
  if (f.Width <= 0 || f.Height <= 0) return;
  if (static_cast<std::size_t>(number) > doc.FrameSpans.size()) return;
  platform::Bitmap* strip = doc.FrameStrip.Bitmap.get();
  if (strip == nullptr) return;
  // The strip is sized from these very frames; a band that does not fit means the records were
  // changed behind the builder's back, and writing it would leave the bitmap.
  if (f.StripX < 0 || std::int64_t{f.StripX} + f.Width > strip->Width() ||
      f.Height > strip->Height()) {
    return;
  }

  const FrameSpan& span = doc.FrameSpans[static_cast<std::size_t>(number - 1)];
  const std::span<const std::uint8_t> file(doc.GifBytes);
  if (span.Start < 1 || span.Length <= 0) return;
  const auto start = static_cast<std::size_t>(span.Start - 1);
  if (start >= file.size()) return;
  const std::size_t end =
      std::min(file.size(), start + static_cast<std::size_t>(span.Length));
  const std::optional<gif::GifImageBlock> image =
      gif::ReadImageBlock(file.subspan(start, end - start), 0);
  if (!image) return;

  // The descriptor and the frame record agree (the parser took one from the other); the record
  // decides the band so that nothing outside it can be written.
  gif::IndexRows rows;
  rows.width = f.Width;
  rows.height = f.Height;
  rows.topRow = strip->Row(0) + f.StripX;
  const std::ptrdiff_t stride = strip->Stride();
  rows.rowStride = strip->TopDown() ? stride : -stride;
  gif::DecodeGifImageData(image->subBlocks, image->minCodeSize, image->interlaced, rows);
}

}  // namespace

std::int32_t ScanlineBytes(std::uint8_t bitsPerPixel, std::int32_t width) {
  // The padded bit count must fit 32 bits, as the row arithmetic of the classic interface did.
  const std::int64_t bits = std::int64_t{width} * bitsPerPixel + 31;
  if (bits > std::numeric_limits<std::int32_t>::max() ||
      bits < std::numeric_limits<std::int32_t>::min()) {
    throw platform::OverflowError(std::string(kControlName));
  }
  return static_cast<std::int32_t>(platform::RowBytes(width, bitsPerPixel));
}

const std::array<std::uint32_t, 256>& IndexPalette() { return kIndexPalette; }

bool CreateCompositeCanvas(GifDocument& doc, bool withMask) {
  CanvasBitmaps& canvas = doc.CompositeCanvas;
  canvas.DC = platform::CreateCompatibleDC(nullptr);
  if (!canvas.DC) return false;
  canvas.Bitmap =
      platform::Bitmap::Create(doc.Header.CanvasWidth, doc.Header.CanvasHeight, 24);
  if (!canvas.Bitmap) return false;
  canvas.Bits = canvas.Bitmap->Bits();
  canvas.PreviousBitmap = canvas.DC->SelectObject(canvas.Bitmap.get());
  if (!withMask) return true;

  static constexpr std::array<platform::RgbQuad, 2> kBlackWhite = {0x000000u, 0xFFFFFFu};
  canvas.MaskBitmap =
      platform::Bitmap::Create(doc.Header.CanvasWidth, doc.Header.CanvasHeight, 1, kBlackWhite);
  if (!canvas.MaskBitmap) return false;
  canvas.MaskBits = canvas.MaskBitmap->Bits();
  return true;
}

bool PrepareFrameStrip(GifDocument& doc, bool userMode) {
  if (doc.Frames.empty()) return false;
  try {
    const StripPlan plan = PlanStrip(doc, userMode);
    if (plan.withCanvas && !CreateCompositeCanvas(doc, plan.needMask)) return false;
    if (!CreateFrameStrip(doc, plan.width, plan.height)) return false;
    if (plan.anyTransparent || plan.needMask) doc.MaskPalette.assign(256, 0);
  } catch (const platform::RuntimeError&) {
    return false;
  }
  return true;
}

void DecodeFramesIntoStrip(GifDocument& doc, std::int32_t first, std::int32_t last) {
  // The renderer may have loaded a colour table into the strip since the first pass.
  if (first > 1 && doc.FrameCount() != 1 && doc.FrameStrip.DC) {
    platform::SetDIBColorTable(*doc.FrameStrip.DC, 0, kIndexPalette);
  }
  doc.Tables.ActiveColorTable = -1;

  first = std::max(first, 1);
  last = std::min(last, doc.FrameCount());
  for (std::int32_t i = first; i <= last; ++i) {
    GifFrame& f = doc.Frame(i);
    if (i == 1) {
      f.StripX = 0;
    } else {
      const GifFrame& previous = doc.Frame(i - 1);
      const std::int64_t column = std::int64_t{previous.StripX} + previous.Width;
      if (column > std::numeric_limits<std::int32_t>::max()) {
        throw platform::OverflowError(std::string(kControlName));
      }
      f.StripX = static_cast<std::int32_t>(column);
    }
    DecodeFrameIntoBand(doc, i);
  }
}

void ReleaseFrameStrip(GifDocument& doc) {
  StripBitmap& strip = doc.FrameStrip;
  if (strip.Bitmap && strip.DC) strip.DC->SelectObject(strip.PreviousBitmap);
  strip = StripBitmap{};
  CanvasBitmaps& canvas = doc.CompositeCanvas;
  if (canvas.Bitmap && canvas.DC) canvas.DC->SelectObject(canvas.PreviousBitmap);
  canvas = CanvasBitmaps{};
}

void DiscardLoadTables(GifDocument& doc) {
  DiscardLoadBuffer(doc.FrameSpans);
}

}  // namespace velmora
