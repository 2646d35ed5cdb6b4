#pragma once
// The host-container contract: what a control needs of the container that holds it, and the
// notifications the container delivers to the control.
//
// Units: the host surface measures itself in pixels; the container measures positions (unit code
// 9) and sizes (unit code 10) in its own units, twips (15 per pixel at 96 dots per inch) for the
// containers here. All calls happen on one user-interface thread.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/picture.h"
#include "platform/property_bag.h"
#include "platform/raster.h"
#include "platform/timers.h"

namespace velmora::platform {

inline constexpr int kUnitTwips = 1;
inline constexpr int kUnitPixels = 3;
inline constexpr int kUnitContainerPosition = 9;
inline constexpr int kUnitContainerSize = 10;

// Twips in one unit of a scale code (0 and 3 pixels, 1 twips, 2 points, 4 characters, 5 inches,
// 6 millimetres, 7 centimetres, 9 and 10 the container's units, which are twips here), for a
// screen of `twipsPerPixel`. Other codes raise RuntimeError 5 with `source`.
double TwipsPerUnit(int unit, bool vertical, double twipsPerPixel, std::string_view source);

// Option of AsyncRead: fall back to the download cache when the network fails.
inline constexpr std::uint32_t kAsyncReadCacheFallback = 0x80000;

// The surface the control paints on.
class HostSurface {
 public:
  virtual ~HostSurface() = default;
  // The surface's device context; its selected bitmap is the surface.
  virtual DeviceContext& Dc() = 0;
  // Inner size in pixels.
  virtual double ScaleWidth() const = 0;
  virtual double ScaleHeight() const = 0;
  // Converts a horizontal / vertical measure between unit codes (1 twips, 3 pixels, 9 container
  // positions, 10 container sizes).
  virtual double ScaleX(double value, int fromUnit, int toUnit) const = 0;
  virtual double ScaleY(double value, int fromUnit, int toUnit) const = 0;
  // Resizes the surface to a size in twips; the container delivers the control's resize
  // notification before this returns.
  virtual void Resize(double widthTwips, double heightTwips) = 0;
  // Repaints at once: the container clears the surface to its background and runs the control's
  // paint notification before this returns.
  virtual void Refresh() = 0;
  // Repaints the part [left, right) x [top, bottom) of the surface (pixels) at once: the
  // container clears that part to its background and runs the control's paint notification
  // with the surface's device context clipped to it (DeviceContext::SetClipRect), then takes the
  // clip off again; the pixels outside keep what the last paint left. The paint notification
  // runs even when the part is empty or lies outside the surface (a control may keep state
  // between paints), with everything clipped away. A container that cannot keep its pixels
  // between paints repaints everything, which is what this default does.
  virtual void RefreshRect(int left, int top, int right, int bottom) {
    (void)left;
    (void)top;
    (void)right;
    (void)bottom;
    Refresh();
  }

  virtual bool Enabled() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual std::int16_t MousePointer() const = 0;
  // Values outside 0..15 and 99 raise RuntimeError 380 (invalid property value).
  virtual void SetMousePointer(std::int16_t pointer) = 0;
  virtual PictureRef MouseIcon() const = 0;
  virtual void SetMouseIcon(PictureRef icon) = 0;
  virtual int DrawStyle() const = 0;
  virtual void SetDrawStyle(int style) = 0;  // pen style of the surface (kPenSolid, kPenDot, ...)
  virtual ColorRef ForeColor() const = 0;
  virtual void SetForeColor(ColorRef color) = 0;  // high bit set: system colour (low byte)
};

// A finished or progressing asynchronous read.
struct AsyncProperty {
  std::string propertyName;
  std::vector<std::uint8_t> value;  // the delivered bytes (lower bound 0)
  std::int64_t bytesRead = 0;
  std::int64_t bytesMax = 0;
  int status = 0;  // kAsyncStatus*
  std::string statusText;
};
inline constexpr int kAsyncStatusProgress = 1;
inline constexpr int kAsyncStatusDone = 6;
inline constexpr int kAsyncStatusError = 13;

// The control's events, raised through the container; the handler runs before Raise returns.
class ControlEvents {
 public:
  virtual ~ControlEvents() = default;
  virtual void Click() {}
  virtual void MouseDown(std::int16_t& /*button*/, std::int16_t& /*shift*/, float /*x*/,
                         float /*y*/) {}
  virtual void MouseUp(std::int16_t& /*button*/, std::int16_t& /*shift*/, float /*x*/,
                       float /*y*/) {}
  virtual void MouseMove(std::int16_t& /*button*/, std::int16_t& /*shift*/, float /*x*/,
                         float /*y*/) {}
  virtual void LoopsEnded() {}
  virtual void FrameChanged(std::int32_t /*frameIndex*/, bool& /*viaTimer*/) {}
  virtual void RemoteLoadComplete(float /*gifWidth*/, float /*gifHeight*/, bool& /*cancel*/) {}
  virtual void RemoteLoadFailure() {}
};

// The container services.
class Container {
 public:
  virtual ~Container() = default;
  // The ambient run-mode flag: true while the form runs, false while it is being designed.
  virtual bool UserMode() const = 0;
  virtual HostSurface& Surface() = 0;
  // The parent form's window handle ("hWnd"); may throw RuntimeError.
  virtual std::uintptr_t ParentWindow() = 0;
  virtual TimerService& Timers() = 0;
  // The saved properties are out of date.
  virtual void PropertyChanged(std::string_view name) = 0;
  // Starts an asynchronous read whose result arrives as the control's read-complete (and
  // progress) notifications; may throw RuntimeError when it cannot start.
  virtual void AsyncRead(std::string_view target, std::string_view propertyName,
                         std::uint32_t options) = 0;
  virtual void CancelAsyncRead(std::string_view propertyName) = 0;
  virtual ControlEvents& Events() = 0;
};

// The notifications a container delivers to a control it hosts.
class UserControl {
 public:
  virtual ~UserControl() = default;
  virtual void ReadProperties(PropertyBag& bag) = 0;
  virtual void WriteProperties(PropertyBag& bag) = 0;
  virtual void Paint() = 0;
  virtual void Resize() = 0;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  virtual int HitTest(float x, float y) = 0;  // 3 = a hit
  virtual void ClickNotify() = 0;
  virtual void MouseDownNotify(std::int16_t button, std::int16_t shift, float x, float y) = 0;
  virtual void MouseUpNotify(std::int16_t button, std::int16_t shift, float x, float y) = 0;
  virtual void MouseMoveNotify(std::int16_t button, std::int16_t shift, float x, float y) = 0;
  virtual void AsyncReadComplete(AsyncProperty& property) = 0;
  virtual void AsyncReadProgress(AsyncProperty& property) = 0;
};

}  // namespace velmora::platform
