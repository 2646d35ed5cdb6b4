#pragma once
// The control's one decoded GIF: the file as loaded, what the parser found in it (gif/gif_types.h)
// and the render resources built from it (the frame strip, the composition canvas, the mask
// palette).
//
// Positions that mirror the file are 1-based in every value a caller sees (see gif_types.h); the
// containers are 0-based (Frames[0] is frame 1, GifBytes[0] is file position 1).

#include <cstdint>
#include <memory>
#include <vector>

#include "gif/gif_types.h"
#include "platform/raster.h"

namespace velmora {

using gif::ColorTable;
using gif::ColorTableSet;
using gif::FrameSpan;
using gif::GifFrame;
using gif::GifHeader;
using gif::kColorCountEntry;

// A bitmap selected into its own memory device context.
struct StripBitmap {
  std::unique_ptr<platform::DeviceContext> DC;
  std::unique_ptr<platform::Bitmap> Bitmap;
  std::uint8_t* Bits = nullptr;
  platform::Bitmap* PreviousBitmap = nullptr;
};

struct CanvasBitmaps {
  std::unique_ptr<platform::DeviceContext> DC;
  std::unique_ptr<platform::Bitmap> Bitmap;  // 24 bits, CanvasWidth x CanvasHeight, bottom-up
  std::uint8_t* Bits = nullptr;
  platform::Bitmap* PreviousBitmap = nullptr;
  std::unique_ptr<platform::Bitmap> MaskBitmap;  // 1 bit, entry 0 black, entry 1 white
  std::uint8_t* MaskBits = nullptr;
};

// The parse (Header, Frames, FrameSpans, Tables, ReadPos) and, beside it, the bytes it came from
// and what the frame builder and the compositor keep. FrameSpans are needed only during a load.
struct GifDocument : gif::ParsedGif {
  std::vector<std::uint8_t> GifBytes;      // the file as loaded; empty = no storage
  std::vector<std::uint32_t> MaskPalette;  // 256 entries when allocated
  StripBitmap FrameStrip;
  CanvasBitmaps CompositeCanvas;
};

// Empties a load-time buffer (GifBytes, FrameSpans). Up to kKeptBufferBytes of storage stays for
// the next load, which for a small GIF would otherwise spend about as long in the allocator as in
// the parser; a larger buffer gives its memory back.
inline constexpr std::size_t kKeptBufferBytes = std::size_t{64} << 10;
template <typename T>
void DiscardLoadBuffer(std::vector<T>& buffer) {
  if (buffer.capacity() > kKeptBufferBytes / sizeof(T)) {
    std::vector<T>().swap(buffer);
  } else {
    buffer.clear();
  }
}

}  // namespace velmora
