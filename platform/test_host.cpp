#include "platform/test_host.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <new>
#include <utility>

#include "platform/errors.h"

namespace velmora::platform {

namespace {

constexpr std::string_view kRemoteGifProperty = "remoteGIF";
constexpr int kErrInvalidArgument = 5;
constexpr int kErrNoSuchMember = 438;
constexpr int kMaxDrawStyle = 6;  // 0 solid .. 5 transparent, 6 inside solid
constexpr std::int16_t kMaxStockPointer = 15;
constexpr std::int16_t kCustomPointer = 99;

std::string FormatNumber(double value) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, end) : std::string("?");
}

std::string FormatBool(bool value) { return value ? "true" : "false"; }

std::string MouseLine(std::string_view name, std::int16_t button, std::int16_t shift, float x,
                      float y) {
  return std::string(name) + " " + std::to_string(button) + " " + std::to_string(shift) + " " +
         FormatNumber(x) + " " + FormatNumber(y);
}

// Twips per unit; pixels and the surface's own scale are 15 twips.
double TwipsPerUnit(int unit, bool vertical) {
  return platform::TwipsPerUnit(unit, vertical, kTwipsPerPixel, "TestHost");
}

double Convert(double value, int fromUnit, int toUnit, bool vertical) {
  const double from = TwipsPerUnit(fromUnit, vertical);
  const double to = TwipsPerUnit(toUnit, vertical);
  return value * from / to;
}

int PixelsFromTwips(double twips) {
  if (!std::isfinite(twips)) {
    return 1;
  }
  const double pixels = std::round(twips / kTwipsPerPixel);
  return static_cast<int>(std::clamp(pixels, 1.0, static_cast<double>(kMaxBitmapSide)));
}

}  // namespace

// --- RecordingEvents ---

void RecordingEvents::Record(std::string line) {
  log_.push_back(std::move(line));
  if (onLine) {
    onLine(log_.back());
  }
}

std::size_t RecordingEvents::Count(std::string_view name) const {
  return static_cast<std::size_t>(std::count_if(log_.begin(), log_.end(), [&](const auto& line) {
    return line.size() >= name.size() && std::string_view(line).substr(0, name.size()) == name &&
           (line.size() == name.size() || line[name.size()] == ' ');
  }));
}

void RecordingEvents::Click() {
  Record("Click");
  if (onClick) {
    onClick();
  }
}

void RecordingEvents::MouseDown(std::int16_t& button, std::int16_t& shift, float x, float y) {
  Record(MouseLine("MouseDown", button, shift, x, y));
  if (onMouseDown) {
    onMouseDown(button, shift, x, y);
  }
}

void RecordingEvents::MouseUp(std::int16_t& button, std::int16_t& shift, float x, float y) {
  Record(MouseLine("MouseUp", button, shift, x, y));
  if (onMouseUp) {
    onMouseUp(button, shift, x, y);
  }
}

void RecordingEvents::MouseMove(std::int16_t& button, std::int16_t& shift, float x, float y) {
  Record(MouseLine("MouseMove", button, shift, x, y));
  if (onMouseMove) {
    onMouseMove(button, shift, x, y);
  }
}

void RecordingEvents::LoopsEnded() {
  Record("LoopsEnded");
  if (onLoopsEnded) {
    onLoopsEnded();
  }
}

void RecordingEvents::FrameChanged(std::int32_t frameIndex, bool& viaTimer) {
  Record("FrameChanged " + std::to_string(frameIndex) + " " + FormatBool(viaTimer));
  if (onFrameChanged) {
    onFrameChanged(frameIndex, viaTimer);
  }
}

void RecordingEvents::RemoteLoadComplete(float gifWidth, float gifHeight, bool& cancel) {
  Record("RemoteLoadComplete " + FormatNumber(gifWidth) + " " + FormatNumber(gifHeight));
  if (onRemoteLoadComplete) {
    onRemoteLoadComplete(gifWidth, gifHeight, cancel);
  }
}

void RecordingEvents::RemoteLoadFailure() {
  Record("RemoteLoadFailure");
  if (onRemoteLoadFailure) {
    onRemoteLoadFailure();
  }
}

// --- TestHost ---

TestHost::TestHost(int widthPx, int heightPx, bool userMode, ManualClock* sharedClock)
    : userMode_(userMode),
      ownClock_(sharedClock == nullptr ? std::make_unique<ManualClock>() : nullptr),
      clock_(sharedClock == nullptr ? ownClock_.get() : sharedClock),
      dc_(CreateCompatibleDC(nullptr)) {
  // The outline the control draws goes over a transparent fill.
  dc_->SelectBrush(Brush{true, 0});
  ApplyPen();
  AllocateSurface(std::clamp(widthPx, 1, kMaxBitmapSide), std::clamp(heightPx, 1, kMaxBitmapSide));
}

TestHost::~TestHost() {
  // The context must not keep pointing at the surface it outlives by a moment.
  dc_->SelectObject(nullptr);
}

// A surface of the size there is already is cleared rather than made again: the result is the
// same, and a load that resizes to the size it had costs no allocation. A new surface is not
// zeroed first, as the clear writes every pixel, whatever clip a paint in progress has set.
void TestHost::AllocateSurface(int widthPx, int heightPx) {
  const bool clipped = dc_->HasClip();
  const Rect clip = dc_->ClipRect();
  dc_->ResetClip();
  struct ClipBack {
    DeviceContext& dc;
    bool clipped;
    Rect clip;
    ~ClipBack() {
      if (clipped) dc.SetClipRect(clip.left, clip.top, clip.right, clip.bottom);
    }
  } back{*dc_, clipped, clip};
  if (surface_ && widthPx == widthPx_ && heightPx == heightPx_) {
    surfaceHoldsPaint_ = false;
    ClearSurface();
    return;
  }
  // Top-down, so a toolkit can take the rows as they are.
  auto bitmap = Bitmap::CreateUninitialized(widthPx, -heightPx, 32);
  if (!bitmap && !surface_) {
    widthPx = heightPx = 1;
    bitmap = Bitmap::CreateUninitialized(1, -1, 32);
  }
  if (!bitmap) {
    return;  // past the raster bound: the old surface stays
  }
  dc_->SelectObject(bitmap.get());
  surface_ = std::move(bitmap);
  widthPx_ = widthPx;
  heightPx_ = heightPx;
  surfaceHoldsPaint_ = false;
  ClearSurface();
}

void TestHost::ClearSurface() {
  FillRect(*dc_, Rect{0, 0, widthPx_, heightPx_}, CreateSolidBrush(background_));
}

void TestHost::ApplyPen() {
  const ColorRef color = ResolveColor(foreColor_);
  dc_->SelectPen(Pen{drawStyle_, color});
}

std::uintptr_t TestHost::ParentWindow() {
  if (parentWindowThrows_) {
    throw RuntimeError(kErrNoSuchMember, "TestHost", "Object doesn't support this property or method");
  }
  return parentWindow_;
}

void TestHost::PropertyChanged(std::string_view name) { propertyChanges_.emplace_back(name); }

void TestHost::AsyncRead(std::string_view target, std::string_view propertyName,
                         std::uint32_t options) {
  switch (asyncReadFailure_) {
    case Failure::kNone:
      break;
    case Failure::kRuntimeError:
      throw RuntimeError(kErrInvalidArgument, "TestHost", "Invalid procedure call or argument");
    case Failure::kOutOfMemory:
      throw std::bad_alloc();
    case Failure::kForeign:
      throw 42;  // what a host in another language might let through
  }
  asyncReads_.push_back({std::string(target), std::string(propertyName), options});
}

void TestHost::CancelAsyncRead(std::string_view propertyName) {
  asyncCancels_.emplace_back(propertyName);
}

double TestHost::ScaleX(double value, int fromUnit, int toUnit) const {
  return Convert(value, fromUnit, toUnit, false);
}

double TestHost::ScaleY(double value, int fromUnit, int toUnit) const {
  return Convert(value, fromUnit, toUnit, true);
}

void TestHost::Resize(double widthTwips, double heightTwips) {
  AllocateSurface(PixelsFromTwips(widthTwips), PixelsFromTwips(heightTwips));
  ++resizeCount_;
  if (control_ != nullptr) {
    control_->Resize();
  }
}

void TestHost::Refresh() {
  ClearSurface();
  ++paintCount_;
  surfaceHoldsPaint_ = true;
  paintedBackground_ = background_;
  if (control_ != nullptr && paintsControl_) {
    control_->Paint();
  }
}

void TestHost::RefreshRect(int left, int top, int right, int bottom) {
  if (!partialRepaints_ || !surfaceHoldsPaint_ || paintedBackground_ != background_) {
    Refresh();
    return;
  }
  const Rect part{std::max(left, 0), std::max(top, 0), std::min(right, widthPx_),
                  std::min(bottom, heightPx_)};
  ++paintCount_;
  ++partialPaintCount_;
  lastPartialRect_ = part;
  // An empty part still runs the paint: the control may keep state between paints.
  dc_->SetClipRect(part.left, part.top, part.right, part.bottom);
  FillRect(*dc_, part, CreateSolidBrush(background_));
  // The clip comes off even when the paint throws, so later paints are not cut short.
  struct ClipReset {
    DeviceContext& dc;
    ~ClipReset() { dc.ResetClip(); }
  } reset{*dc_};
  if (control_ != nullptr && paintsControl_) {
    control_->Paint();
  }
}

void TestHost::SetMousePointer(std::int16_t pointer) {
  if ((pointer < 0 || pointer > kMaxStockPointer) && pointer != kCustomPointer) {
    throw RuntimeError(kErrInvalidPropertyValue, "TestHost", "Invalid property value");
  }
  mousePointer_ = pointer;
}

void TestHost::SetDrawStyle(int style) {
  if (style < 0 || style > kMaxDrawStyle) {
    throw RuntimeError(kErrInvalidPropertyValue, "TestHost", "Invalid property value");
  }
  drawStyle_ = style;
  ApplyPen();
}

void TestHost::SetForeColor(ColorRef color) {
  foreColor_ = color;
  ApplyPen();
}

RgbQuad TestHost::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= widthPx_ || y >= heightPx_) {
    return 0;
  }
  const std::uint8_t* p = surface_->Row(y) + static_cast<std::size_t>(x) * 4;
  return static_cast<RgbQuad>(p[0]) | (static_cast<RgbQuad>(p[1]) << 8) |
         (static_cast<RgbQuad>(p[2]) << 16);
}

void TestHost::SendShow() {
  if (control_ != nullptr) {
    control_->Show();
  }
}

void TestHost::SendHide() {
  if (control_ != nullptr) {
    control_->Hide();
  }
}

int TestHost::SendHitTest(float x, float y) {
  return control_ != nullptr ? control_->HitTest(x, y) : 0;
}

void TestHost::SendClick() {
  if (TakesMouseInput()) control_->ClickNotify();
}

void TestHost::SendMouseDown(std::int16_t button, std::int16_t shift, float x, float y) {
  if (TakesMouseInput()) control_->MouseDownNotify(button, shift, x, y);
}

void TestHost::SendMouseUp(std::int16_t button, std::int16_t shift, float x, float y) {
  if (TakesMouseInput()) control_->MouseUpNotify(button, shift, x, y);
}

void TestHost::SendMouseMove(std::int16_t button, std::int16_t shift, float x, float y) {
  if (TakesMouseInput()) control_->MouseMoveNotify(button, shift, x, y);
}

std::string TestHost::AsyncName(std::string_view propertyName) const {
  if (!propertyName.empty()) {
    return std::string(propertyName);
  }
  if (!asyncReads_.empty()) {
    return asyncReads_.back().propertyName;
  }
  return std::string(kRemoteGifProperty);
}

void TestHost::DeliverAsync(std::span<const std::uint8_t> bytes, std::string_view propertyName) {
  if (control_ == nullptr) {
    return;
  }
  AsyncProperty property;
  property.propertyName = AsyncName(propertyName);
  property.value.assign(bytes.begin(), bytes.end());
  property.bytesRead = static_cast<std::int64_t>(bytes.size());
  property.bytesMax = property.bytesRead;
  property.status = kAsyncStatusDone;
  property.statusText = "Done";
  control_->AsyncReadComplete(property);
}

void TestHost::DeliverAsyncProgress(std::int64_t bytesRead, std::int64_t bytesMax,
                                    std::string_view propertyName) {
  if (control_ == nullptr) {
    return;
  }
  AsyncProperty property;
  property.propertyName = AsyncName(propertyName);
  property.bytesRead = bytesRead;
  property.bytesMax = bytesMax;
  property.status = kAsyncStatusProgress;
  property.statusText = "Downloading";
  control_->AsyncReadProgress(property);
}

void TestHost::DeliverAsyncError(std::string_view propertyName) {
  if (control_ == nullptr) {
    return;
  }
  AsyncProperty property;
  property.propertyName = AsyncName(propertyName);
  property.status = kAsyncStatusError;
  property.statusText = "Error";
  control_->AsyncReadProgress(property);
}

}  // namespace velmora::platform
