#include "platform/test_host.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/errors.h"
#include "support/run_time_errors.h"

namespace velmora::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::ErrorNumber;

// A control that logs the notifications it receives, with what it sees of the host at the time.
class LoggingControl final : public UserControl {
 public:
  explicit LoggingControl(TestHost& host) : host_(host) {}

  void ReadProperties(PropertyBag&) override { log.push_back("ReadProperties"); }
  void WriteProperties(PropertyBag&) override { log.push_back("WriteProperties"); }
  void Paint() override {
    log.push_back("Paint paints=" + std::to_string(host_.PaintCount()) + " pixel=" +
                  std::to_string(host_.Pixel(0, 0)));
    // Draws a dot the next Refresh must clear.
    FillRect(host_.Dc(), Rect{0, 0, 1, 1}, CreateSolidBrush(0x00FF00));
  }
  void Resize() override {
    log.push_back("Resize " + std::to_string(static_cast<int>(host_.ScaleWidth())) + "x" +
                  std::to_string(static_cast<int>(host_.ScaleHeight())));
  }
  void Show() override { log.push_back("Show"); }
  void Hide() override { log.push_back("Hide"); }
  int HitTest(float, float) override { return 3; }
  void ClickNotify() override { log.push_back("Click"); }
  void MouseDownNotify(std::int16_t b, std::int16_t s, float x, float y) override {
    log.push_back(Mouse("MouseDown", b, s, x, y));
  }
  void MouseUpNotify(std::int16_t b, std::int16_t s, float x, float y) override {
    log.push_back(Mouse("MouseUp", b, s, x, y));
  }
  void MouseMoveNotify(std::int16_t b, std::int16_t s, float x, float y) override {
    log.push_back(Mouse("MouseMove", b, s, x, y));
  }
  void AsyncReadComplete(AsyncProperty& p) override {
    log.push_back("Complete " + p.propertyName + " " + std::to_string(p.value.size()) + " " +
                  std::to_string(p.bytesRead) + " " + std::to_string(p.status));
  }
  void AsyncReadProgress(AsyncProperty& p) override {
    log.push_back("Progress " + p.propertyName + " " + std::to_string(p.bytesRead) + "/" +
                  std::to_string(p.bytesMax) + " " + std::to_string(p.status));
  }

  std::vector<std::string> log;

 private:
  static std::string Mouse(const char* n, std::int16_t b, std::int16_t s, float x, float y) {
    return std::string(n) + " " + std::to_string(b) + " " + std::to_string(s) + " " +
           std::to_string(static_cast<int>(x)) + " " + std::to_string(static_cast<int>(y));
  }
  TestHost& host_;
};

TEST(TestHostTest, UnitConversions) {
  TestHost host(10, 20);
  struct Case {
    double value;
    int from;
    int to;
    double expected;
  };
  const Case cases[] = {
      {10, kUnitPixels, kUnitTwips, 150},
      {10, kUnitPixels, kUnitContainerSize, 150},
      {10, kUnitPixels, kUnitContainerPosition, 150},
      {150, kUnitContainerSize, kUnitPixels, 10},
      {7, kUnitPixels, kUnitPixels, 7},
      {1440, kUnitTwips, 5, 1},  // inches
      {1, 7, kUnitTwips, 1440 / 2.54},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.value) + " " + std::to_string(c.from) + "->" +
                 std::to_string(c.to));
    EXPECT_DOUBLE_EQ(host.ScaleX(c.value, c.from, c.to), c.expected);
    EXPECT_DOUBLE_EQ(host.ScaleY(c.value, c.from, c.to), c.expected);
  }
  // Characters differ by axis.
  EXPECT_DOUBLE_EQ(host.ScaleX(1, 4, kUnitTwips), 120);
  EXPECT_DOUBLE_EQ(host.ScaleY(1, 4, kUnitTwips), 240);
  EXPECT_EQ(ErrorNumber([&] { host.ScaleX(1, 8, kUnitTwips); }), 5);
  EXPECT_DOUBLE_EQ(host.ScaleWidth(), 10);
  EXPECT_DOUBLE_EQ(host.ScaleHeight(), 20);
}

TEST(TestHostTest, SurfaceIsATopDown32BitBitmapInTheDc) {
  TestHost host(4, 3);
  const Bitmap& surface = host.SurfaceBitmap();
  EXPECT_EQ(surface.Width(), 4);
  EXPECT_EQ(surface.Height(), 3);
  EXPECT_EQ(surface.BitsPerPixel(), 32);
  EXPECT_TRUE(surface.TopDown());
  EXPECT_EQ(&host.Dc().Selected(), &surface);
  EXPECT_TRUE(host.Dc().CurrentBrush().hollow);
}

TEST(TestHostTest, RefreshClearsThenPaintsBeforeReturning) {
  TestHost host(4, 4);
  LoggingControl control(host);
  host.Attach(control);
  host.SetBackground(0x0000FF);  // red, as 0x00BBGGRR
  host.Refresh();
  control.log.push_back("returned");
  // The paint saw the cleared surface (red as 0x00RRGGBB) and drew its green dot.
  EXPECT_EQ(host.Pixel(0, 0), 0x00FF00u);
  EXPECT_EQ(host.Pixel(3, 3), 0xFF0000u);
  host.Refresh();
  EXPECT_EQ(control.log, (std::vector<std::string>{"Paint paints=1 pixel=16711680", "returned",
                                                   "Paint paints=2 pixel=16711680"}));
  EXPECT_EQ(host.PaintCount(), 2);
}

TEST(TestHostTest, ResizeReallocatesThenNotifiesBeforeReturning) {
  TestHost host(4, 4);
  LoggingControl control(host);
  host.Attach(control);
  host.Resize(150, 307);  // 10 x 20.47 pixels: rounds to 10 x 20
  control.log.push_back("returned");
  EXPECT_EQ(control.log, (std::vector<std::string>{"Resize 10x20", "returned"}));
  EXPECT_EQ(host.SurfaceBitmap().Width(), 10);
  EXPECT_EQ(host.SurfaceBitmap().Height(), 20);
  EXPECT_EQ(&host.Dc().Selected(), &host.SurfaceBitmap());
  EXPECT_EQ(host.ResizeCount(), 1);
  host.Resize(-5, 0);  // nothing below one pixel
  EXPECT_EQ(host.WidthPx(), 1);
  EXPECT_EQ(host.HeightPx(), 1);
}

// A resize to the size there is keeps the bitmap; either way the surface is cleared whole, even
// during a clipped paint, and the clip stays.
TEST(TestHostTest, ResizeClearsTheWholeSurfaceAndKeepsABitmapOfTheSameSize) {
  TestHost host(3, 2);
  LoggingControl control(host);
  host.Attach(control);
  host.SetBackground(0x0000FF);
  const Bitmap* before = &host.SurfaceBitmap();
  FillRect(host.Dc(), Rect{0, 0, 3, 2}, CreateSolidBrush(0x00FF00));
  host.Dc().SetClipRect(0, 0, 1, 1);
  host.Resize(45, 30);
  EXPECT_EQ(&host.SurfaceBitmap(), before);
  EXPECT_EQ(host.Pixel(2, 1), 0xFF0000u);
  host.Resize(60, 30);
  EXPECT_EQ(host.WidthPx(), 4);
  EXPECT_EQ(host.Pixel(3, 1), 0xFF0000u);
  EXPECT_TRUE(host.Dc().HasClip());
  EXPECT_EQ(control.log, (std::vector<std::string>{"Resize 3x2", "Resize 4x2"}));
}

TEST(TestHostTest, WithPaintsOffRefreshesClearAndCountWithoutPainting) {
  TestHost host(2, 2);
  LoggingControl control(host);
  host.Attach(control);
  host.SetPaintsControl(false);
  host.SetBackground(0xFFFFFF);
  host.Refresh();
  host.RefreshRect(0, 0, 1, 1);
  EXPECT_TRUE(control.log.empty());
  EXPECT_EQ(host.PaintCount(), 2);
  EXPECT_EQ(host.Pixel(1, 1), 0xFFFFFFu);
}

TEST(TestHostTest, NothingAttachedStillClearsAndCounts) {
  TestHost host(2, 2);
  host.SetBackground(0xFFFFFF);
  host.Refresh();
  EXPECT_EQ(host.Pixel(1, 1), 0xFFFFFFu);
  EXPECT_EQ(host.Pixel(2, 0), 0u);  // outside
  EXPECT_EQ(host.SendHitTest(0, 0), 0);
}

TEST(TestHostTest, PenFollowsDrawStyleAndForeColor) {
  TestHost host(2, 2);
  host.SetForeColor(0x00123456);
  host.SetDrawStyle(kPenDot);
  EXPECT_EQ(host.Dc().CurrentPen().color, 0x00123456u);
  EXPECT_EQ(host.Dc().CurrentPen().style, kPenDot);
  SetSysColorOverride(5, 0x00ABCDEF);
  host.SetForeColor(0x80000005);
  ClearSysColorOverrides();
  EXPECT_EQ(host.ForeColor(), 0x80000005u);
  EXPECT_EQ(host.Dc().CurrentPen().color, 0x00ABCDEFu);
  EXPECT_EQ(ErrorNumber([&] { host.SetDrawStyle(7); }), kErrInvalidPropertyValue);
  EXPECT_EQ(host.DrawStyle(), kPenDot);
}

TEST(TestHostTest, MousePointerAcceptsStockValuesAnd99) {
  TestHost host(2, 2);
  for (const std::int16_t ok : {0, 15, 99}) {
    EXPECT_EQ(ErrorNumber([&] { host.SetMousePointer(ok); }), 0) << ok;
    EXPECT_EQ(host.MousePointer(), ok);
  }
  for (const std::int16_t bad : {-1, 16, 98, 100}) {
    EXPECT_EQ(ErrorNumber([&] { host.SetMousePointer(bad); }), kErrInvalidPropertyValue) << bad;
    EXPECT_EQ(host.MousePointer(), 99);
  }
}

TEST(TestHostTest, ParentWindowAndModes) {
  TestHost host(2, 2, false);
  EXPECT_FALSE(host.UserMode());
  host.SetUserMode(true);
  EXPECT_TRUE(host.UserMode());
  EXPECT_EQ(host.ParentWindow(), kTestHostWindow);
  host.SetParentWindow(42);
  EXPECT_EQ(host.ParentWindow(), 42u);
  host.SetParentWindowThrows(true);
  EXPECT_EQ(ErrorNumber([&] { host.ParentWindow(); }), 438);
}

TEST(TestHostTest, TwoHostsCanShareOneClock) {
  ManualClock clock;
  TestHost a(2, 2, true, &clock);
  TestHost b(2, 2, true, &clock);
  TestHost own(2, 2);
  EXPECT_EQ(&a.Clock(), &clock);
  EXPECT_EQ(&b.Timers(), static_cast<TimerService*>(&clock));
  EXPECT_NE(&own.Clock(), &clock);
}

TEST(TestHostTest, RecordsPropertyChangesAndAsyncCalls) {
  TestHost host(2, 2);
  host.PropertyChanged("Stretch");
  host.PropertyChanged("Mirrored");
  EXPECT_EQ(host.PropertyChanges(), (std::vector<std::string>{"Stretch", "Mirrored"}));

  host.AsyncRead("http://example.invalid/a.gif", "remoteGIF", kAsyncReadCacheFallback);
  ASSERT_EQ(host.AsyncReads().size(), 1u);
  EXPECT_EQ(host.AsyncReads()[0].target, "http://example.invalid/a.gif");
  EXPECT_EQ(host.AsyncReads()[0].propertyName, "remoteGIF");
  EXPECT_EQ(host.AsyncReads()[0].options, 0x80000u);
  host.SetAsyncReadFailure(TestHost::Failure::kRuntimeError);
  EXPECT_NE(ErrorNumber([&] { host.AsyncRead("x", "remoteGIF", 0); }), 0);
  EXPECT_EQ(host.AsyncReads().size(), 1u);
  host.CancelAsyncRead("remoteGIF");
  EXPECT_EQ(host.AsyncCancels(), (std::vector<std::string>{"remoteGIF"}));
}

TEST(TestHostTest, DeliversNotificationsToTheAttachedControl) {
  TestHost host(2, 2);
  LoggingControl control(host);
  host.Attach(control);
  host.SendShow();
  host.SendHide();
  host.SendClick();
  host.SendMouseDown(1, 2, 3, 4);
  host.SendMouseMove(0, 0, 5, 6);
  host.SendMouseUp(1, 0, 7, 8);
  EXPECT_EQ(host.SendHitTest(1, 1), 3);
  host.DeliverAsync(Bytes(15, 0x47));
  host.AsyncRead("u", "other", 0);
  host.DeliverAsyncProgress(5, 10);
  host.DeliverAsyncError("named");
  host.Detach();
  host.SendShow();
  EXPECT_EQ(control.log, (std::vector<std::string>{
                             "Show", "Hide", "Click", "MouseDown 1 2 3 4", "MouseMove 0 0 5 6",
                             "MouseUp 1 0 7 8", "Complete remoteGIF 15 15 6",
                             "Progress other 5/10 1", "Progress named 0/0 13"}));
}

TEST(RecordingEventsTest, LogsEveryEventAndRunsHandlers) {
  TestHost host(2, 2);
  RecordingEvents& events = host.Recorder();
  EXPECT_EQ(&host.Events(), static_cast<ControlEvents*>(&events));
  std::vector<std::string> lines;
  events.onLine = [&](std::string_view line) { lines.emplace_back(line); };
  events.onRemoteLoadComplete = [](float, float, bool& cancel) { cancel = true; };
  events.onFrameChanged = [&](std::int32_t frame, bool&) {
    if (frame == 2) {
      host.PropertyChanged("from handler");
    }
  };

  ControlEvents& raise = host.Events();
  bool viaTimer = true;
  raise.FrameChanged(2, viaTimer);
  bool notTimer = false;
  raise.FrameChanged(1, notTimer);
  bool cancel = false;
  raise.RemoteLoadComplete(150, 307.5f, cancel);
  EXPECT_TRUE(cancel);
  raise.LoopsEnded();
  raise.RemoteLoadFailure();
  raise.Click();
  std::int16_t button = 1;
  std::int16_t shift = 0;
  raise.MouseDown(button, shift, 10.5f, 20);

  const std::vector<std::string> expected = {
      "FrameChanged 2 true", "FrameChanged 1 false", "RemoteLoadComplete 150 307.5",
      "LoopsEnded",          "RemoteLoadFailure",    "Click",
      "MouseDown 1 0 10.5 20"};
  EXPECT_EQ(events.Log(), expected);
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(events.Count("FrameChanged"), 2u);
  EXPECT_EQ(events.Count("Frame"), 0u);
  EXPECT_EQ(host.PropertyChanges(), (std::vector<std::string>{"from handler"}));
}

}  // namespace
}  // namespace velmora::platform
