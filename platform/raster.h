#pragma once
// Raster layer: device-independent bitmaps, memory device contexts and bit-block transfers.
//
// The semantics follow the classic desktop graphics interface the control was designed against:
//   - Bitmaps of 1, 8, 24 and 32 bits per pixel. Rows are padded to a multiple of 4 bytes and
//     stored bottom-up (a positive height) or top-down (a negative height at creation, used for
//     host surfaces that are handed to a toolkit as they are). 1- and 8-bit bitmaps carry a
//     colour table of 2 or 256 entries.
//   - Colour-table entries and 24/32-bit pixels are 0x00RRGGBB (blue, green, red, 0 in memory).
//     Colours given to brushes, pens and system colours are 0x00BBGGRR (a "COLORREF").
//   - A device context has exactly one bitmap selected; selecting returns the one selected
//     before. A new context starts with its own 1 x 1 monochrome bitmap selected.
//   - Transfers clip to both bitmaps, and to the target context's clip rectangle when it has one.
//     An 8-bit source is converted through its colour table; a 1-bit source gives black (0) and
//     white (1) through its own table; into a 1-bit target a colour maps to the nearer of black
//     (0) and white (1); into an 8-bit target to the nearest entry of the target's colour table. A negative source width or height mirrors, also when
//     source and target are the same bitmap.
//   - "Nearer of black and white" is by RGB distance, which comes down to the sum of the three
//     channels: 383 and above is white (1), below is black (0). An exact colour match always wins
//     the nearest-entry search; among equal entries the lowest index, except that a source entry
//     whose colour sits at the same index in the target keeps that index (so identical tables
//     copy indices unchanged even when a table repeats a colour).
//   - SRCAND and SRCPAINT act on the target's values: on blue, green and red bytewise for 24 and
//     32 bits, on the palette index bits for 8 bits, on the bit for 1 bit. The fourth byte of a
//     32-bit pixel is not a colour: a converting copy writes 0 there, AND and OR leave it alone,
//     and a same-format 32-bit copy moves it along.
//   - StretchBlt resamples with HALFTONE (area-averaging when shrinking, bilinear when enlarging)
//     while the context's stretch mode is kHalftone, nearest neighbour otherwise.
//
// Everything works on whole rows with lookup tables; nothing here is called per pixel.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace velmora::platform {

using RgbQuad = std::uint32_t;   // 0x00RRGGBB
using ColorRef = std::uint32_t;  // 0x00BBGGRR

inline constexpr RgbQuad RgbQuadFromColorRef(ColorRef c) {
  return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
inline constexpr ColorRef ColorRefFromRgbQuad(RgbQuad q) { return RgbQuadFromColorRef(q); }

enum class Rop : std::uint32_t {
  kSrcCopy = 0x00CC0020,   // target = source
  kSrcAnd = 0x008800C6,    // target = target AND source
  kSrcPaint = 0x00EE0086,  // target = target OR source
};

// Stretch modes (SetStretchBltMode).
inline constexpr int kBlackOnWhite = 1;
inline constexpr int kWhiteOnBlack = 2;
inline constexpr int kColorOnColor = 3;
inline constexpr int kHalftone = 4;

// Pen styles.
inline constexpr int kPenSolid = 0;
inline constexpr int kPenDash = 1;
inline constexpr int kPenDot = 2;
inline constexpr int kPenNull = 5;

// Stock objects (GetStockBrush).
inline constexpr int kWhiteBrush = 0;
inline constexpr int kBlackBrush = 4;
inline constexpr int kNullBrush = 5;

// Largest bitmap the layer creates: 256 MiB of pixel memory, and no side above 1 << 20 pixels.
// A platform refuses huge bitmaps too; with this bound hostile GIF dimensions fail a load cleanly.
inline constexpr std::int64_t kMaxBitmapBytes = std::int64_t{256} << 20;
inline constexpr int kMaxBitmapSide = 1 << 20;

// Bytes of one bitmap row: width x bitsPerPixel bits, padded to a multiple of 32 bits. The one
// row-length rule of every bitmap, file and strip in the project. A negative product rounds down.
constexpr std::int64_t RowBytes(std::int64_t width, int bitsPerPixel) {
  return ((width * bitsPerPixel + 31) & ~std::int64_t{31}) / 8;
}

struct Point {
  int x = 0;
  int y = 0;
};

// Right and bottom are exclusive.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

class Bitmap {
 public:
  // Creates a zero-filled DIB. `height` > 0 stores rows bottom-up, < 0 top-down. `colorTable`
  // initialises the 2 (1 bit) or 256 (8 bits) entries; missing entries are 0. Returns null when
  // bitsPerPixel is not 1, 8, 24 or 32, a side is 0 or above kMaxBitmapSide, or the pixel memory
  // would pass kMaxBitmapBytes.
  static std::unique_ptr<Bitmap> Create(int width, int height, int bitsPerPixel,
                                        std::span<const RgbQuad> colorTable = {});
  // The same bitmap with its pixel memory (row padding included) left as the allocator gives
  // it, for a caller that writes every pixel before anything reads one: a surface filled at
  // once, a copy of an image.
  static std::unique_ptr<Bitmap> CreateUninitialized(int width, int height, int bitsPerPixel,
                                                     std::span<const RgbQuad> colorTable = {});
  ~Bitmap();
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }  // always positive
  int BitsPerPixel() const { return bitsPerPixel_; }
  bool TopDown() const { return topDown_; }
  int Stride() const { return stride_; }  // bytes per row, a multiple of 4
  std::size_t SizeBytes() const { return static_cast<std::size_t>(stride_) * height_; }

  std::uint8_t* Bits() { return bits_; }
  const std::uint8_t* Bits() const { return bits_; }
  // Row y counted from the top of the image, whatever the storage order (0 <= y < Height()).
  std::uint8_t* Row(int y);
  const std::uint8_t* Row(int y) const;

  // 2 entries for 1 bit, 256 for 8 bits, empty otherwise.
  std::span<RgbQuad> ColorTable() { return {colorTable_, colorTableSize_}; }
  std::span<const RgbQuad> ColorTable() const { return {colorTable_, colorTableSize_}; }

 private:
  friend class DeviceContext;
  struct FreeMemory {
    void operator()(void* p) const;
  };
  Bitmap() = default;
  static std::unique_ptr<Bitmap> Make(int width, int height, int bitsPerPixel,
                                      std::span<const RgbQuad> colorTable, bool zeroed);
  // Makes this a 1 x 1 monochrome bitmap held in the object itself (a device context's default),
  // with no allocation.
  void MakeMonochromeCell();

  int width_ = 0;
  int height_ = 0;
  int bitsPerPixel_ = 0;
  bool topDown_ = false;
  int stride_ = 0;
  std::uint8_t* bits_ = nullptr;      // ownedBits_, or cellBits_
  RgbQuad* colorTable_ = nullptr;     // ownedTable_, or cellTable_
  std::size_t colorTableSize_ = 0;
  std::unique_ptr<std::uint8_t, FreeMemory> ownedBits_;
  std::unique_ptr<RgbQuad[]> ownedTable_;
  std::array<std::uint8_t, 4> cellBits_{};
  std::array<RgbQuad, 2> cellTable_{};
};

struct Pen {
  int style = kPenSolid;
  ColorRef color = 0;
};

struct Brush {
  bool hollow = false;  // the null brush: Rectangle leaves the inside alone
  ColorRef color = 0;
};

// A memory device context.
class DeviceContext {
 public:
  DeviceContext();
  ~DeviceContext();
  DeviceContext(const DeviceContext&) = delete;
  DeviceContext& operator=(const DeviceContext&) = delete;

  // Selects `bitmap` (not owned) and returns the bitmap selected before, which may be the
  // context's own 1 x 1 monochrome default. Selecting null selects the default.
  Bitmap* SelectObject(Bitmap* bitmap);
  Bitmap& Selected() const { return *selected_; }

  int SetStretchBltMode(int mode);  // returns the previous mode (initially kBlackOnWhite)
  int StretchBltMode() const { return stretchMode_; }
  Point SetBrushOrgEx(int x, int y);  // returns the previous origin
  Point BrushOrg() const { return brushOrg_; }

  Pen SelectPen(Pen pen);  // returns the previous pen (initially solid black)
  const Pen& CurrentPen() const { return pen_; }
  Brush SelectBrush(Brush brush);  // returns the previous brush (initially solid white)
  const Brush& CurrentBrush() const { return brush_; }

  // The clip rectangle, as a window system's clip region: while one is set, every operation that
  // writes the selected bitmap through this context (BitBlt, StretchBlt, FillRect, Rectangle and
  // anything built on them) writes only the pixels inside [left, right) x [top, bottom), and each
  // of those gets exactly the value the unclipped operation gives it: a clipped stretch keeps the
  // whole destination's source mapping and resampling, it only writes fewer pixels. Reading from
  // the context as a source is never clipped. An empty or inverted rectangle clips everything
  // away. A new context has no clip; the clip stays when another bitmap is selected.
  void SetClipRect(int left, int top, int right, int bottom);
  void ResetClip();
  bool HasClip() const { return hasClip_; }
  Rect ClipRect() const { return clip_; }  // as set; meaningful only while HasClip()

 private:
  Bitmap defaultBitmap_;  // held in the context: making a context allocates nothing for it
  Bitmap* selected_ = nullptr;
  int stretchMode_ = kBlackOnWhite;
  Point brushOrg_;
  Pen pen_;
  Brush brush_{false, 0xFFFFFF};
  bool hasClip_ = false;
  Rect clip_;
};

// A new memory context (the model context only decides compatibility and may be null).
std::unique_ptr<DeviceContext> CreateCompatibleDC(const DeviceContext* model);

// Copies cx x cy pixels from (xSrc, ySrc) of the source's selected bitmap to (x, y) of the
// target's, through `rop`, 1:1 whatever the stretch mode. Returns false when nothing could be
// transferred (cx or cy not positive, everything clipped away, an unknown rop, no memory).
bool BitBlt(DeviceContext& target, int x, int y, int cx, int cy, const DeviceContext& source,
            int xSrc, int ySrc, Rop rop);

// Copies the source rectangle (xSrc, ySrc, cxSrc, cySrc) onto the target rectangle
// (x, y, cx, cy), resampling as the target's stretch mode says. A negative width or height on
// either side mirrors that axis (the rectangle then extends left of / above its origin, as the
// classic interface has it). Source and target may be the same context.
//
// Extents, precisely: an extent e > 0 at origin p covers p, p + 1, ..., p + e - 1; an extent -e
// covers p, p - 1, ..., p - e + 1 in that order, so the origin is always the first pixel read or
// written. Target pixel i (0-based, in its traversal order) takes source pixel
// floor((i + 1/2) * |cxSrc| / |cx|) of the source traversal (the same for rows); equal extents
// map one to one. Hence a band (bx, by, w, h) is mirrored in place left-right by
//   StretchBlt(dc, bx, by, w, h, dc, bx + w - 1, by, -w, h, kSrcCopy)
// and top-bottom by
//   StretchBlt(dc, bx, by, w, h, dc, bx, by + h - 1, w, -h, kSrcCopy),
// and a negative target extent mirrors the same way.
//
// Clipping: target pixels outside the target bitmap, and those whose source pixel lies outside
// the source bitmap, are left alone. With kHalftone and differing extents an axis that shrinks
// takes the area average of the source pixels each target pixel covers and an axis that enlarges
// interpolates bilinearly, never reading outside the source rectangle; other stretch modes, and
// equal extents, sample the nearest pixel (an exact copy at 1:1). An 8- or 1-bit target is
// resampled in colour, then mapped to its palette or to black and white.
bool StretchBlt(DeviceContext& target, int x, int y, int cx, int cy, const DeviceContext& source,
                int xSrc, int ySrc, int cxSrc, int cySrc, Rop rop);

// Two transfers fused into one pass over the target, for drawing a transparent frame 1:1.
// Equal, byte for byte and under the same clipping, to
//   BitBlt(target, x, y, cx, cy, source, xSrc, ySrc, kSrcAnd) with `andTable` as the source's
//   colour table, followed by
//   BitBlt(target, x, y, cx, cy, source, xSrc, ySrc, kSrcPaint) with `paintTable` as its table;
// that is, a source pixel of index i turns the target's blue, green and red bytes into
// (old AND andTable[i]) OR paintTable[i]. The fourth byte of a 32-bit target is left alone, as
// AND and OR leave it. Entries past the end of a table count as 0 (black); their fourth bytes are
// ignored. The source's own colour table is neither read nor changed. Only an 8-bit source onto a
// 24- or 32-bit target: any other pair of formats returns false with nothing drawn (the caller
// runs the two transfers). Also false when cx or cy is not positive or everything is clipped
// away.
bool BitBltAndPaint(DeviceContext& target, int x, int y, int cx, int cy,
                    const DeviceContext& source, int xSrc, int ySrc,
                    std::span<const RgbQuad> andTable, std::span<const RgbQuad> paintTable);

// Two transfers fused into one pass over the target, for drawing the canvas through its mask
// 1:1. Equal, byte for byte and under the same clipping, to
//   BitBlt(target, x, y, cx, cy, <a context holding mask>, xSrc, ySrc, kSrcAnd), then
//   BitBlt(target, x, y, cx, cy, source, xSrc, ySrc, kSrcPaint):
// the target's blue, green and red bytes become (old AND maskTable[bit]) OR colour, with the
// mask's bit read through the mask's own two-entry table. The fourth byte of a 32-bit target is
// left alone. `mask` must be 1-bit and exactly as wide and high as the source's selected bitmap,
// which must be 24-bit, and the target 24- or 32-bit and neither of the two source bitmaps;
// otherwise false with nothing drawn (the caller runs the two transfers). Also false when cx or
// cy is not positive or everything is clipped away.
bool BitBltThroughMask(DeviceContext& target, int x, int y, int cx, int cy,
                       const DeviceContext& source, int xSrc, int ySrc, const Bitmap& mask);

// Replaces entries start .. start + n - 1 of the colour table of the 1- or 8-bit bitmap selected
// in `dc`, without touching its pixels. Returns the number of entries set (0 if none): entries
// past the end of the table are ignored, a start outside it sets nothing.
int SetDIBColorTable(DeviceContext& dc, int start, std::span<const RgbQuad> entries);

// The stock brushes 0..5 (white, light grey, grey, dark grey, black, null); other numbers give
// the null brush.
Brush GetStockBrush(int which);
inline Brush CreateSolidBrush(ColorRef color) { return {false, color}; }

// Fills `rect` (right and bottom exclusive, clipped) with the brush's colour (the nearest palette
// entry into 8 bits, the nearer of black and white into 1 bit). False when nothing was filled:
// a hollow brush or a rectangle empty after clipping.
bool FillRect(DeviceContext& dc, const Rect& rect, const Brush& brush);

// Outlines (left, top)-(right, bottom), right and bottom exclusive, with the current pen (solid
// or dotted, one pixel wide) and fills the inside with the current brush unless it is hollow.
// The outline covers columns left .. right - 1 of rows top and bottom - 1, and rows top ..
// bottom - 1 of columns left and right - 1. A dotted pen draws every other outline pixel,
// walking clockwise from (left, top), which is drawn; a dashed pen draws 18 and skips 6; the
// skipped pixels are left alone. With the null pen there is no outline and, as in the classic
// interface, the brush fills one pixel less in width and height. Swapped corners are put in
// order; false when the rectangle is empty.
bool Rectangle(DeviceContext& dc, int left, int top, int right, int bottom);

// The classic system colours 0..30 (COLOR_SCROLLBAR .. COLOR_MENUBAR), as a fixed table that a
// host may override. Unknown numbers give 0 (and cannot be overridden).
ColorRef GetSysColor(int index);
void SetSysColorOverride(int index, ColorRef color);
void ClearSysColorOverrides();

// A colour as the control and its hosts store it: with the high bit set, the low byte names a
// system colour (GetSysColor); otherwise it is the 0x00BBGGRR colour itself.
inline constexpr ColorRef kSystemColorFlag = 0x80000000u;
ColorRef ResolveColor(ColorRef color);

}  // namespace velmora::platform
