#pragma once
// The control's one decoded GIF and its settings.
//
// Positions that mirror the file are 1-based in every value a caller sees: FrameSpan::Start,
// GifFrame::StripX while parsing, ReadPos, frame numbers. The containers themselves are 0-based
// (Frames[0] is frame 1, GifBytes[0] is file position 1).

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/raster.h"

namespace velmora {

// GIF-wide values. All five are zeroed at the start of every load.
struct GifHeader {
  std::int32_t CanvasWidth = 0;   // largest Left + Width over the stored frames
  std::int32_t CanvasHeight = 0;  // largest Top + Height; negative while a resize is in progress
  std::int32_t LoopCount = 0;     // "NETSCAPE2.0" loop count, 0 = none / for ever
  float ScaleFactorX = 0.0f;      // frame pixels to control pixels
  float ScaleFactorY = 0.0f;
};

struct GifFrame {
  std::int32_t Left = 0;    // 0..65535
  std::int32_t Top = 0;     // 0..65535
  std::int32_t Width = 0;   // 0..65535
  std::int32_t Height = 0;  // 0..65535
  std::int32_t Delay = 0;   // milliseconds: ten times the extension's hundredths
  std::int32_t ColorTable = 0;  // 0 = global, 1..M = local tables in file order
  // Until the frame is built: 1-based position of the graphic control extension's 0x21 (or of
  // the image separator when there was none). After building: the frame's first strip column.
  std::int32_t StripX = 0;
  std::uint8_t TransparentIndex = 0;
  std::uint8_t Transparent = 0;  // 0 or 1
  std::uint8_t Disposal = 0;     // 0..3
};

struct FrameSpan {
  std::int32_t Length = 0;  // bytes from the image separator through the data terminator
  std::int32_t Start = 0;   // 1-based position of the image separator (0x2C)
};

// Entries 0..255 are colours 0x00RRGGBB; entry 256 is the colour count (2..256, 0 if absent).
inline constexpr int kColorCountEntry = 256;
using ColorTable = std::array<std::uint32_t, 257>;

struct ColorTableSet {
  // While parsing: the number of the last table stored. From frame building on: the table loaded
  // into the strip's palette, or -1 when none of the file's tables is known to be loaded.
  std::int32_t ActiveColorTable = 0;
  std::vector<ColorTable> ColorTables;  // table 0 global, 1..M local
};

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

struct GifDocument {
  std::vector<std::uint8_t> GifBytes;  // the file as loaded; empty = no storage
  std::int32_t ReadPos = 0;            // 1-based; 0 outside a parse
  GifHeader Header;
  std::vector<GifFrame> Frames;         // empty = unallocated
  std::vector<FrameSpan> FrameSpans;    // only during a load
  ColorTableSet Tables;
  std::vector<std::uint32_t> MaskPalette;  // 256 entries when allocated
  std::vector<std::uint32_t> PowersOfTwo;  // 2^0 .. 2^8 during a load
  std::vector<std::uint8_t> BlockBuffer;
  std::vector<std::uint8_t> FrameFileBuffer;
  StripBitmap FrameStrip;
  CanvasBitmaps CompositeCanvas;

  std::int32_t FrameCount() const { return static_cast<std::int32_t>(Frames.size()); }
  // Frame by its 1-based number.
  GifFrame& Frame(std::int32_t number) { return Frames.at(static_cast<std::size_t>(number - 1)); }
  const GifFrame& Frame(std::int32_t number) const {
    return Frames.at(static_cast<std::size_t>(number - 1));
  }
};

// The control's settings and animation state, in declared order, with their initial values.
struct ControlState {
  std::int32_t OffsetX = 0;
  std::int32_t OffsetY = 0;
  std::uint32_t SolidBkgColor = 0;      // 0x00BBGGRR, high bit: system colour
  std::int16_t SolidBkgColorUsed = 0;   // Boolean, True = -1
  std::int16_t MinFrameDelay = 50;
  std::int16_t LoopsRemaining = 0;
  std::int32_t Action = 0;              // 0 stopped, 1 playing, 2 paused
  std::int32_t Stretch = 1;
  std::int32_t CurrentFrame = 0;        // 0 = nothing loaded
  std::int32_t DelayAnimation = 1;
  std::int32_t Mirrored = 0;            // 0..3, plus 0x20 while only frame 1 is mirrored
  std::int32_t SteppedDelay = 0;
};

// Empties a load-time buffer (GifBytes, BlockBuffer, FrameSpans, ...). Up to kKeptBufferBytes of
// storage stays for the next load, which for a small GIF would otherwise spend about as long in
// the allocator as in the parser; a larger buffer gives its memory back.
inline constexpr std::size_t kKeptBufferBytes = std::size_t{64} << 10;
template <typename T>
void DiscardLoadBuffer(std::vector<T>& buffer) {
  if (buffer.capacity() > kKeptBufferBytes / sizeof(T)) {
    std::vector<T>().swap(buffer);
  } else {
    buffer.clear();
  }
}

inline constexpr std::int16_t kTrue = -1;
inline constexpr std::int16_t kFalse = 0;

}  // namespace velmora
