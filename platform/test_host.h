#pragma once
// TestHost: a headless container for one control, for tests and the anigif tool.
//
// It implements the container services (platform::Container) and the host surface
// (platform::HostSurface) without a window system, threads or real time:
//   - the surface is a top-down 32-bit bitmap selected in a device context; its pen follows
//     DrawStyle and ForeColor (a ForeColor with the high bit set resolves through GetSysColor),
//     its brush is hollow, so an outline drawn by the control leaves the inside alone;
//   - 15 twips per pixel; container position and size units (9, 10) are twips;
//   - Refresh clears the surface to the background colour and runs the attached control's Paint
//     before it returns; RefreshRect clears only its rectangle and runs Paint with the device
//     context clipped to it (or, when partial repaints are switched off or the surface does not
//     hold the last paint, does what Refresh does); Resize reallocates the surface and runs the
//     control's Resize before it returns;
//   - timers run on a ManualClock, the host's own or one shared with other hosts (two controls
//     on one form share one clock and one parent window);
//   - PropertyChanged, AsyncRead, CancelAsyncRead and every event are recorded for inspection,
//     and tests deliver the container's notifications through the Send* / Deliver* helpers.
//
// The host never owns the control: Attach it after constructing it, and do not let the host
// deliver notifications (Refresh, Resize, Send*, Deliver*) after the control is gone.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/container.h"
#include "platform/picture.h"
#include "platform/raster.h"
#include "platform/timers.h"

namespace velmora::platform {

inline constexpr double kTwipsPerPixel = 15.0;
// The window handle TestHost reports until told otherwise.
inline constexpr std::uintptr_t kTestHostWindow = 0x00010ABC;

// A ControlEvents that logs every event as one line, "<Name> <arg> <arg>...", with Booleans as
// true / false and numbers in their shortest form ("FrameChanged 3 true",
// "RemoteLoadComplete 150 300", "MouseDown 1 0 10.5 20"). The line is logged with the arguments
// as raised, before the handler runs; handlers may change by-reference arguments.
class RecordingEvents final : public ControlEvents {
 public:
  void Click() override;
  void MouseDown(std::int16_t& button, std::int16_t& shift, float x, float y) override;
  void MouseUp(std::int16_t& button, std::int16_t& shift, float x, float y) override;
  void MouseMove(std::int16_t& button, std::int16_t& shift, float x, float y) override;
  void LoopsEnded() override;
  void FrameChanged(std::int32_t frameIndex, bool& viaTimer) override;
  void RemoteLoadComplete(float gifWidth, float gifHeight, bool& cancel) override;
  void RemoteLoadFailure() override;

  const std::vector<std::string>& Log() const { return log_; }
  // Number of logged events whose name is `name`.
  std::size_t Count(std::string_view name) const;
  void Clear() { log_.clear(); }

  // Handlers run after the event is logged, before the raise returns.
  std::function<void()> onClick;
  std::function<void(std::int16_t& button, std::int16_t& shift, float x, float y)> onMouseDown;
  std::function<void(std::int16_t& button, std::int16_t& shift, float x, float y)> onMouseUp;
  std::function<void(std::int16_t& button, std::int16_t& shift, float x, float y)> onMouseMove;
  std::function<void()> onLoopsEnded;
  std::function<void(std::int32_t frameIndex, bool& viaTimer)> onFrameChanged;
  std::function<void(float gifWidth, float gifHeight, bool& cancel)> onRemoteLoadComplete;
  std::function<void()> onRemoteLoadFailure;
  // Sees every logged line as it is logged (the tool prefixes it with the clock's time).
  std::function<void(std::string_view line)> onLine;

 private:
  void Record(std::string line);
  std::vector<std::string> log_;
};

// One recorded AsyncRead call.
struct AsyncReadRequest {
  std::string target;
  std::string propertyName;
  std::uint32_t options = 0;
};

class TestHost final : public Container, public HostSurface {
 public:
  // A surface of widthPx x heightPx pixels, in run mode
  // (userMode true) or design mode. Timers run on `sharedClock` when given (not owned; it must
  // outlive the host), else on the host's own clock.
  TestHost(int widthPx, int heightPx, bool userMode = true, ManualClock* sharedClock = nullptr);
  ~TestHost() override;
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  // --- Wiring ---
  void Attach(UserControl& control) { control_ = &control; }
  void Detach() { control_ = nullptr; }
  UserControl* Attached() const { return control_; }
  ManualClock& Clock() { return *clock_; }
  RecordingEvents& Recorder() { return events_; }

  // --- Container ---
  bool UserMode() const override { return userMode_; }
  void SetUserMode(bool userMode) { userMode_ = userMode; }
  HostSurface& Surface() override { return *this; }
  // kTestHostWindow unless changed; throws RuntimeError 438 when told to.
  std::uintptr_t ParentWindow() override;
  void SetParentWindow(std::uintptr_t window) { parentWindow_ = window; }
  void SetParentWindowThrows(bool fail) { parentWindowThrows_ = fail; }
  TimerService& Timers() override { return *clock_; }
  void PropertyChanged(std::string_view name) override;
  // Records the request; fails instead when told to (nothing recorded then): kRuntimeError throws
  // RuntimeError 5, kOutOfMemory std::bad_alloc, kForeign an exception of no standard type.
  enum class Failure { kNone, kRuntimeError, kOutOfMemory, kForeign };
  void AsyncRead(std::string_view target, std::string_view propertyName,
                 std::uint32_t options) override;
  void SetAsyncReadFailure(Failure failure) { asyncReadFailure_ = failure; }
  void CancelAsyncRead(std::string_view propertyName) override;
  ControlEvents& Events() override { return events_; }

  const std::vector<std::string>& PropertyChanges() const { return propertyChanges_; }
  const std::vector<AsyncReadRequest>& AsyncReads() const { return asyncReads_; }
  const std::vector<std::string>& AsyncCancels() const { return asyncCancels_; }

  // --- HostSurface ---
  DeviceContext& Dc() override { return *dc_; }
  double ScaleWidth() const override { return widthPx_; }
  double ScaleHeight() const override { return heightPx_; }
  // Unit codes: 0 (the surface's own scale: pixels), 1 twips, 2 points (20 twips), 3 pixels,
  // 4 characters (120 twips across, 240 down), 5 inches (1440 twips), 6 millimetres, 7
  // centimetres (567 twips), 9 and 10 container units (twips). Another code throws
  // RuntimeError 5.
  double ScaleX(double value, int fromUnit, int toUnit) const override;
  double ScaleY(double value, int fromUnit, int toUnit) const override;
  // Sizes round to whole pixels, at least 1. The new surface is cleared to the background, then
  // the control's Resize runs. Surfaces are bounded as every bitmap is, by their pixel memory
  // (kMaxBitmapBytes, 4 bytes a pixel) and side (kMaxBitmapSide), not by a smaller side: a
  // 1 x 65535 surface is allocated whole. A size past the bound keeps the surface there was
  // (the constructor's falls back to 1 x 1), so a caller that needs an exact size compares
  // WidthPx and HeightPx with what it asked for.
  void Resize(double widthTwips, double heightTwips) override;
  void Refresh() override;
  // Clears [left, right) x [top, bottom) (cut to the surface) to the background, clips the
  // context to it, runs the control's Paint and takes the clip off. Falls back to Refresh when
  // partial repaints are off, and when the surface no longer holds the last paint (it was
  // reallocated, or the background changed since): then the pixels outside cannot be kept.
  void RefreshRect(int left, int top, int right, int bottom) override;

  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool enabled) override { enabled_ = enabled; }
  std::int16_t MousePointer() const override { return mousePointer_; }
  void SetMousePointer(std::int16_t pointer) override;  // 0..15 and 99, else RuntimeError 380
  PictureRef MouseIcon() const override { return mouseIcon_; }
  void SetMouseIcon(PictureRef icon) override { mouseIcon_ = std::move(icon); }
  int DrawStyle() const override { return drawStyle_; }
  void SetDrawStyle(int style) override;  // 0..6, else RuntimeError 380
  ColorRef ForeColor() const override { return foreColor_; }
  void SetForeColor(ColorRef color) override;

  // --- Surface inspection ---
  const Bitmap& SurfaceBitmap() const { return *surface_; }
  int WidthPx() const { return widthPx_; }
  int HeightPx() const { return heightPx_; }
  // The surface pixel at (x, y) from the top left, 0x00RRGGBB; 0 outside the surface.
  RgbQuad Pixel(int x, int y) const;
  // The colour Refresh and Resize clear to (0x00BBGGRR; default black).
  void SetBackground(ColorRef color) { background_ = color; }
  ColorRef Background() const { return background_; }
  // Paints (Refresh and RefreshRect calls) and resizes delivered so far.
  int PaintCount() const { return paintCount_; }
  int ResizeCount() const { return resizeCount_; }
  // Of the paints, those that repainted only a part (RefreshRect without falling back), and the
  // part the last of them repainted, cut to the surface (possibly empty).
  int PartialPaintCount() const { return partialPaintCount_; }
  Rect LastPartialRect() const { return lastPartialRect_; }
  // Whether RefreshRect repaints only its rectangle (the default) or everything, like a
  // container that cannot keep its pixels between paints.
  void SetPartialRepaints(bool enabled) { partialRepaints_ = enabled; }
  // Whether Refresh and RefreshRect run the attached control's Paint (the default) or only clear
  // and count, as a window that is not shown gets no paints. For a caller that never reads the
  // surface (anigif encode).
  void SetPaintsControl(bool paints) { paintsControl_ = paints; }

  // --- Notifications to the attached control (nothing happens when none is attached) ---
  // Clicks and mouse input reach only an enabled control, as a window system delivers them.
  void SendShow();
  void SendHide();
  int SendHitTest(float x, float y);  // 0 when no control is attached
  void SendClick();
  void SendMouseDown(std::int16_t button, std::int16_t shift, float x, float y);
  void SendMouseUp(std::int16_t button, std::int16_t shift, float x, float y);
  void SendMouseMove(std::int16_t button, std::int16_t shift, float x, float y);

  // Completes an asynchronous read: an AsyncProperty with `bytes`, status kAsyncStatusDone,
  // bytesRead = bytesMax = size, under `propertyName` (empty: the last request's name, or
  // "remoteGIF" when none was made), handed to the control's AsyncReadComplete.
  void DeliverAsync(std::span<const std::uint8_t> bytes, std::string_view propertyName = {});
  // A progress report (status kAsyncStatusProgress) to AsyncReadProgress.
  void DeliverAsyncProgress(std::int64_t bytesRead, std::int64_t bytesMax,
                            std::string_view propertyName = {});
  // An error report (status kAsyncStatusError, no value) to AsyncReadProgress.
  void DeliverAsyncError(std::string_view propertyName = {});

 private:
  bool TakesMouseInput() const { return control_ != nullptr && enabled_; }
  void AllocateSurface(int widthPx, int heightPx);
  void ClearSurface();
  void ApplyPen();
  std::string AsyncName(std::string_view propertyName) const;

  bool userMode_;
  std::unique_ptr<ManualClock> ownClock_;
  ManualClock* clock_;
  UserControl* control_ = nullptr;
  RecordingEvents events_;

  std::unique_ptr<DeviceContext> dc_;
  std::unique_ptr<Bitmap> surface_;
  int widthPx_ = 0;
  int heightPx_ = 0;
  ColorRef background_ = 0;
  int paintCount_ = 0;
  int resizeCount_ = 0;
  int partialPaintCount_ = 0;
  Rect lastPartialRect_;
  bool partialRepaints_ = true;
  bool paintsControl_ = true;
  // True while the surface holds what the last paint left, cleared to `paintedBackground_`.
  bool surfaceHoldsPaint_ = false;
  ColorRef paintedBackground_ = 0;

  bool enabled_ = true;
  std::int16_t mousePointer_ = 0;
  PictureRef mouseIcon_;
  int drawStyle_ = kPenSolid;
  // The usual control default: the system's button-text colour.
  ColorRef foreColor_ = 0x80000012;

  std::uintptr_t parentWindow_ = kTestHostWindow;
  bool parentWindowThrows_ = false;
  Failure asyncReadFailure_ = Failure::kNone;
  std::vector<std::string> propertyChanges_;
  std::vector<AsyncReadRequest> asyncReads_;
  std::vector<std::string> asyncCancels_;
};

}  // namespace velmora::platform
