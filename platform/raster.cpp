// Bitmaps, device contexts, colour tables, fills, outlines and system colours. The transfers
// (BitBlt, StretchBlt) live in raster_blit.cpp.

#include "platform/raster.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <new>
#include <optional>
#include <utility>

#include "platform/raster_internal.h"

namespace velmora::platform {

using raster_detail::FillRow;
using raster_detail::NativeValueFor;

void Bitmap::FreeMemory::operator()(void* p) const { std::free(p); }

// Zeroed memory comes from calloc, which for a large bitmap hands over fresh pages the system
// has zeroed already instead of clearing them a second time.
std::unique_ptr<Bitmap> Bitmap::Make(int width, int height, int bitsPerPixel,
                                     std::span<const RgbQuad> colorTable, bool zeroed) {
  if (bitsPerPixel != 1 && bitsPerPixel != 8 && bitsPerPixel != 24 && bitsPerPixel != 32) {
    return nullptr;
  }
  // 64-bit arithmetic throughout: -INT_MIN and width * 32 both overflow an int.
  const std::int64_t w = width;
  const std::int64_t h = height < 0 ? -static_cast<std::int64_t>(height) : height;
  if (w <= 0 || h <= 0 || w > kMaxBitmapSide || h > kMaxBitmapSide) return nullptr;
  const std::int64_t stride = RowBytes(w, bitsPerPixel);
  const std::int64_t bytes = stride * h;
  if (bytes > kMaxBitmapBytes) return nullptr;

  std::unique_ptr<Bitmap> bitmap(new (std::nothrow) Bitmap());
  if (!bitmap) return nullptr;
  const auto size = static_cast<std::size_t>(bytes);
  bitmap->ownedBits_.reset(
      static_cast<std::uint8_t*>(zeroed ? std::calloc(size, 1) : std::malloc(size)));
  if (!bitmap->ownedBits_) return nullptr;
  bitmap->bits_ = bitmap->ownedBits_.get();
  const std::size_t tableSize = bitsPerPixel == 1 ? 2 : bitsPerPixel == 8 ? 256 : 0;
  if (tableSize != 0) {
    bitmap->ownedTable_.reset(new (std::nothrow) RgbQuad[tableSize]());
    if (!bitmap->ownedTable_) return nullptr;
    bitmap->colorTable_ = bitmap->ownedTable_.get();
    std::copy_n(colorTable.begin(), std::min(tableSize, colorTable.size()), bitmap->colorTable_);
  }
  bitmap->width_ = width;
  bitmap->height_ = static_cast<int>(h);
  bitmap->bitsPerPixel_ = bitsPerPixel;
  bitmap->topDown_ = height < 0;
  bitmap->stride_ = static_cast<int>(stride);
  bitmap->colorTableSize_ = tableSize;
  return bitmap;
}

std::unique_ptr<Bitmap> Bitmap::Create(int width, int height, int bitsPerPixel,
                                       std::span<const RgbQuad> colorTable) {
  return Make(width, height, bitsPerPixel, colorTable, /*zeroed=*/true);
}

std::unique_ptr<Bitmap> Bitmap::CreateUninitialized(int width, int height, int bitsPerPixel,
                                                    std::span<const RgbQuad> colorTable) {
  return Make(width, height, bitsPerPixel, colorTable, /*zeroed=*/false);
}

Bitmap::~Bitmap() = default;

std::uint8_t* Bitmap::Row(int y) {
  const int stored = topDown_ ? y : height_ - 1 - y;
  return bits_ + static_cast<std::size_t>(stored) * static_cast<std::size_t>(stride_);
}

const std::uint8_t* Bitmap::Row(int y) const { return const_cast<Bitmap*>(this)->Row(y); }

void Bitmap::MakeMonochromeCell() {
  width_ = 1;
  height_ = 1;
  bitsPerPixel_ = 1;
  stride_ = static_cast<int>(cellBits_.size());
  bits_ = cellBits_.data();
  cellTable_ = {0x000000, 0xFFFFFF};
  colorTable_ = cellTable_.data();
  colorTableSize_ = cellTable_.size();
}

DeviceContext::DeviceContext() : selected_(&defaultBitmap_) { defaultBitmap_.MakeMonochromeCell(); }

DeviceContext::~DeviceContext() = default;

Bitmap* DeviceContext::SelectObject(Bitmap* bitmap) {
  Bitmap* previous = selected_;
  selected_ = bitmap ? bitmap : &defaultBitmap_;
  return previous;
}

int DeviceContext::SetStretchBltMode(int mode) { return std::exchange(stretchMode_, mode); }

Point DeviceContext::SetBrushOrgEx(int x, int y) { return std::exchange(brushOrg_, Point{x, y}); }

Pen DeviceContext::SelectPen(Pen pen) { return std::exchange(pen_, pen); }

Brush DeviceContext::SelectBrush(Brush brush) { return std::exchange(brush_, brush); }

void DeviceContext::SetClipRect(int left, int top, int right, int bottom) {
  hasClip_ = true;
  clip_ = Rect{left, top, right, bottom};
}

void DeviceContext::ResetClip() {
  hasClip_ = false;
  clip_ = Rect{};
}

Rect raster_detail::WritableArea(const DeviceContext& dc) {
  const Bitmap& bitmap = dc.Selected();
  Rect area{0, 0, bitmap.Width(), bitmap.Height()};
  if (!dc.HasClip()) return area;
  const Rect clip = dc.ClipRect();
  area.left = std::max(area.left, clip.left);
  area.top = std::max(area.top, clip.top);
  area.right = std::min(area.right, clip.right);
  area.bottom = std::min(area.bottom, clip.bottom);
  return area;
}

std::unique_ptr<DeviceContext> CreateCompatibleDC(const DeviceContext* /*model*/) {
  return std::make_unique<DeviceContext>();
}

int SetDIBColorTable(DeviceContext& dc, int start, std::span<const RgbQuad> entries) {
  std::span<RgbQuad> table = dc.Selected().ColorTable();
  if (start < 0 || static_cast<std::size_t>(start) >= table.size()) return 0;
  const std::size_t count = std::min(entries.size(), table.size() - static_cast<std::size_t>(start));
  std::copy_n(entries.begin(), count, table.begin() + start);
  return static_cast<int>(count);
}

Brush GetStockBrush(int which) {
  // The classic stock brushes 0..5: white, light grey, grey, dark grey, black, null. Any other
  // number is not a brush; the null brush makes using it harmless.
  switch (which) {
    case kWhiteBrush:
      return {false, 0xFFFFFF};
    case 1:
      return {false, 0xC0C0C0};
    case 2:
      return {false, 0x808080};
    case 3:
      return {false, 0x404040};
    case kBlackBrush:
      return {false, 0x000000};
    default:
      return {true, 0};
  }
}

namespace {

// Cuts (left, top)-(right, bottom) to the writable area; false when nothing is left.
bool ClipTo(const Rect& area, Rect& r) {
  r.left = std::max(r.left, area.left);
  r.top = std::max(r.top, area.top);
  r.right = std::min(r.right, area.right);
  r.bottom = std::min(r.bottom, area.bottom);
  return r.left < r.right && r.top < r.bottom;
}

void FillClipped(Bitmap& bitmap, const Rect& area, Rect r, std::uint32_t native) {
  if (!ClipTo(area, r)) return;
  for (int y = r.top; y < r.bottom; ++y) {
    FillRow(bitmap.BitsPerPixel(), bitmap.Row(y), r.left, r.right - r.left, native);
  }
}

// Pattern of a one-pixel cosmetic pen: whether the n-th pixel along the outline is drawn.
bool PenDraws(int style, long long n) {
  switch (style) {
    case kPenDot:
      return (n & 1) == 0;  // on, off, on, ... starting on
    case kPenDash:
      return n % 24 < 18;  // 18 on, 6 off, as the classic cosmetic dash
    default:
      return true;
  }
}

// The pen pattern counts every outline pixel, clipped or not, so a clipped outline keeps the
// dots where the whole outline has them.
void DrawOutline(Bitmap& bitmap, const Rect& area, const Rect& r, const Pen& pen) {
  const std::uint32_t native = NativeValueFor(bitmap, RgbQuadFromColorRef(pen.color));
  long long n = 0;
  const auto plot = [&](int x, int y) {
    if (PenDraws(pen.style, n++) && x >= area.left && y >= area.top && x < area.right &&
        y < area.bottom) {
      FillRow(bitmap.BitsPerPixel(), bitmap.Row(y), x, 1, native);
    }
  };
  // Clockwise from the top-left corner, every outline pixel once.
  const int right = r.right - 1;
  const int bottom = r.bottom - 1;
  for (int x = r.left; x <= right; ++x) plot(x, r.top);
  for (int y = r.top + 1; y <= bottom; ++y) plot(right, y);
  if (bottom > r.top) {
    for (int x = right - 1; x >= r.left; --x) plot(x, bottom);
  }
  if (right > r.left) {
    for (int y = bottom - 1; y > r.top; --y) plot(r.left, y);
  }
}

}  // namespace

bool FillRect(DeviceContext& dc, const Rect& rect, const Brush& brush) {
  Bitmap& bitmap = dc.Selected();
  const Rect area = raster_detail::WritableArea(dc);
  Rect r = rect;
  if (brush.hollow || !ClipTo(area, r)) return false;
  FillClipped(bitmap, area, r, NativeValueFor(bitmap, RgbQuadFromColorRef(brush.color)));
  return true;
}

bool Rectangle(DeviceContext& dc, int left, int top, int right, int bottom) {
  // Like the classic interface, swapped corners describe the same rectangle.
  Rect r{std::min(left, right), std::min(top, bottom), std::max(left, right),
         std::max(top, bottom)};
  if (r.left == r.right || r.top == r.bottom) return false;
  Bitmap& bitmap = dc.Selected();
  const Rect area = raster_detail::WritableArea(dc);
  const Pen& pen = dc.CurrentPen();
  const Brush& brush = dc.CurrentBrush();
  if (pen.style == kPenNull) {
    // Quirk kept from the classic interface: without a pen the filled area is one pixel narrower
    // and shorter than the rectangle.
    if (!brush.hollow) {
      FillClipped(bitmap, area, Rect{r.left, r.top, r.right - 1, r.bottom - 1},
                  NativeValueFor(bitmap, RgbQuadFromColorRef(brush.color)));
    }
    return true;
  }
  if (!brush.hollow) {
    FillClipped(bitmap, area, Rect{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1},
                NativeValueFor(bitmap, RgbQuadFromColorRef(brush.color)));
  }
  DrawOutline(bitmap, area, r, pen);
  return true;
}

namespace {

constexpr ColorRef Rgb(int r, int g, int b) {
  return static_cast<ColorRef>(r) | (static_cast<ColorRef>(g) << 8) |
         (static_cast<ColorRef>(b) << 16);
}

constexpr int kSysColorCount = 31;

// Default system colours of the desktop the control was designed against (the modern default
// theme), except the window frame, which keeps the classic black the design-time outline expects.
constexpr std::array<ColorRef, kSysColorCount> kDefaultSysColors = {
    Rgb(200, 200, 200),  //  0 COLOR_SCROLLBAR
    Rgb(0, 0, 0),        //  1 COLOR_BACKGROUND (desktop)
    Rgb(153, 180, 209),  //  2 COLOR_ACTIVECAPTION
    Rgb(191, 205, 219),  //  3 COLOR_INACTIVECAPTION
    Rgb(240, 240, 240),  //  4 COLOR_MENU
    Rgb(255, 255, 255),  //  5 COLOR_WINDOW
    Rgb(0, 0, 0),        //  6 COLOR_WINDOWFRAME
    Rgb(0, 0, 0),        //  7 COLOR_MENUTEXT
    Rgb(0, 0, 0),        //  8 COLOR_WINDOWTEXT
    Rgb(0, 0, 0),        //  9 COLOR_CAPTIONTEXT
    Rgb(180, 180, 180),  // 10 COLOR_ACTIVEBORDER
    Rgb(244, 247, 252),  // 11 COLOR_INACTIVEBORDER
    Rgb(171, 171, 171),  // 12 COLOR_APPWORKSPACE
    Rgb(0, 120, 215),    // 13 COLOR_HIGHLIGHT
    Rgb(255, 255, 255),  // 14 COLOR_HIGHLIGHTTEXT
    Rgb(240, 240, 240),  // 15 COLOR_BTNFACE (COLOR_3DFACE)
    Rgb(160, 160, 160),  // 16 COLOR_BTNSHADOW (COLOR_3DSHADOW)
    Rgb(109, 109, 109),  // 17 COLOR_GRAYTEXT
    Rgb(0, 0, 0),        // 18 COLOR_BTNTEXT
    Rgb(0, 0, 0),        // 19 COLOR_INACTIVECAPTIONTEXT
    Rgb(255, 255, 255),  // 20 COLOR_BTNHIGHLIGHT (COLOR_3DHIGHLIGHT)
    Rgb(105, 105, 105),  // 21 COLOR_3DDKSHADOW
    Rgb(227, 227, 227),  // 22 COLOR_3DLIGHT
    Rgb(0, 0, 0),        // 23 COLOR_INFOTEXT
    Rgb(255, 255, 225),  // 24 COLOR_INFOBK
    Rgb(0, 0, 0),        // 25 (unassigned)
    Rgb(0, 102, 204),    // 26 COLOR_HOTLIGHT
    Rgb(185, 209, 234),  // 27 COLOR_GRADIENTACTIVECAPTION
    Rgb(215, 228, 242),  // 28 COLOR_GRADIENTINACTIVECAPTION
    Rgb(51, 153, 255),   // 29 COLOR_MENUHILIGHT
    Rgb(240, 240, 240),  // 30 COLOR_MENUBAR
};

// Host overrides; the layer is used from the user-interface thread only.
std::array<std::optional<ColorRef>, kSysColorCount>& SysColorOverrides() {
  static std::array<std::optional<ColorRef>, kSysColorCount> overrides;
  return overrides;
}

}  // namespace

ColorRef GetSysColor(int index) {
  if (index < 0 || index >= kSysColorCount) return 0;
  const auto& custom = SysColorOverrides()[static_cast<std::size_t>(index)];
  return custom ? *custom : kDefaultSysColors[static_cast<std::size_t>(index)];
}

void SetSysColorOverride(int index, ColorRef color) {
  if (index < 0 || index >= kSysColorCount) return;
  SysColorOverrides()[static_cast<std::size_t>(index)] = color & 0x00FFFFFFu;
}

void ClearSysColorOverrides() { SysColorOverrides().fill(std::nullopt); }

ColorRef ResolveColor(ColorRef color) {
  if ((color & kSystemColorFlag) != 0) return GetSysColor(static_cast<int>(color & 0xFFu));
  return color;
}

}  // namespace velmora::platform
