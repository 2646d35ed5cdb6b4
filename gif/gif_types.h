#pragma once
// What the block parser makes of a GIF file: the header values, one record per image, where each
// image lies in the file, and the colour tables. Image data is not decoded here.
//
// Positions that mirror the file are 1-based in every value a caller sees: FrameSpan::Start,
// GifFrame::StripX while parsing, ReadPos, frame numbers. The containers themselves are 0-based
// (Frames[0] is frame 1).

#include <array>
#include <cstdint>
#include <vector>

namespace velmora::gif {

// GIF-wide values. All five are zeroed at the start of every load.
struct GifHeader {
  std::int32_t CanvasWidth = 0;   // largest Left + Width over the stored frames
  std::int32_t CanvasHeight = 0;  // largest Top + Height; negative while a resize is in progress
  std::int32_t LoopCount = 0;     // "NETSCAPE2.0" loop count, 0 = none / for ever
  float ScaleFactorX = 0.0f;      // frame pixels to control pixels (set by the renderer's users)
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

// The parse of one GIF file.
struct ParsedGif {
  GifHeader Header;
  std::vector<GifFrame> Frames;       // empty = nothing usable
  std::vector<FrameSpan> FrameSpans;  // one per frame, and spare entries after them
  ColorTableSet Tables;
  std::int32_t ReadPos = 0;  // 1-based; where the parse stopped, 0 before any parse

  std::int32_t FrameCount() const { return static_cast<std::int32_t>(Frames.size()); }
  // Frame by its 1-based number.
  GifFrame& Frame(std::int32_t number) { return Frames.at(static_cast<std::size_t>(number - 1)); }
  const GifFrame& Frame(std::int32_t number) const {
    return Frames.at(static_cast<std::size_t>(number - 1));
  }
};

}  // namespace velmora::gif
