// TestHost's partial repaint: RefreshRect clears only its rectangle, paints with the context
// clipped to it and takes the clip off; it repaints everything when partial repaints are off or
// the surface does not hold the last paint.

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/test_host.h"

namespace velmora::platform {
namespace {

// Fills the whole surface with one colour on every paint, and logs the clip it was given.
class FillingControl final : public UserControl {
 public:
  explicit FillingControl(TestHost& host) : host_(host) {}
  void Paint() override {
    const DeviceContext& dc = host_.Dc();
    const Rect c = dc.ClipRect();
    log.push_back(dc.HasClip() ? "clip " + std::to_string(c.left) + " " + std::to_string(c.top) +
                                     " " + std::to_string(c.right) + " " + std::to_string(c.bottom)
                               : "whole");
    FillRect(host_.Dc(), Rect{0, 0, 100, 100}, CreateSolidBrush(colour));
    if (throwInPaint) throw std::runtime_error("paint failed");
  }
  void ReadProperties(PropertyBag&) override {}
  void WriteProperties(PropertyBag&) override {}
  void Resize() override {}
  void Show() override {}
  void Hide() override {}
  int HitTest(float, float) override { return 3; }
  void ClickNotify() override {}
  void MouseDownNotify(std::int16_t, std::int16_t, float, float) override {}
  void MouseUpNotify(std::int16_t, std::int16_t, float, float) override {}
  void MouseMoveNotify(std::int16_t, std::int16_t, float, float) override {}
  void AsyncReadComplete(AsyncProperty&) override {}
  void AsyncReadProgress(AsyncProperty&) override {}

  ColorRef colour = 0x0000FF;  // red
  bool throwInPaint = false;
  std::vector<std::string> log;

 private:
  TestHost& host_;
};

// The surface as rows of characters: R red, B blue, k black, ? anything else.
std::vector<std::string> Picture(const TestHost& host) {
  std::vector<std::string> rows;
  for (int y = 0; y < host.HeightPx(); ++y) {
    std::string row;
    for (int x = 0; x < host.WidthPx(); ++x) {
      const RgbQuad p = host.Pixel(x, y);
      row += p == 0xFF0000 ? 'R' : p == 0x0000FF ? 'B' : p == 0 ? 'k' : '?';
    }
    rows.push_back(row);
  }
  return rows;
}

TEST(TestHostRefreshRect, RepaintsOnlyThePartThenTakesTheClipOff) {
  TestHost host(5, 3);
  FillingControl control(host);
  host.Attach(control);
  host.Refresh();
  control.colour = 0xFF0000;  // blue
  host.RefreshRect(1, 1, 3, 9);  // cut to the surface: (1, 1)-(3, 3)
  EXPECT_EQ(Picture(host), (std::vector<std::string>{"RRRRR", "RBBRR", "RBBRR"}));
  EXPECT_EQ(control.log, (std::vector<std::string>{"whole", "clip 1 1 3 3"}));
  EXPECT_FALSE(host.Dc().HasClip());
  EXPECT_EQ(host.PaintCount(), 2);
  EXPECT_EQ(host.PartialPaintCount(), 1);
  EXPECT_EQ(host.LastPartialRect().left, 1);
  EXPECT_EQ(host.LastPartialRect().bottom, 3);
}

TEST(TestHostRefreshRect, ClearsThePartToTheBackgroundBeforePainting) {
  TestHost host(4, 2);
  FillingControl control(host);
  host.Attach(control);
  host.Refresh();
  control.colour = 0xFF0000;
  host.Detach();  // nothing paints: the cleared part shows
  host.RefreshRect(2, 0, 3, 2);
  EXPECT_EQ(Picture(host), (std::vector<std::string>{"RRkR", "RRkR"}));
  EXPECT_EQ(host.PartialPaintCount(), 1);
}

TEST(TestHostRefreshRect, EmptyPartStillRunsThePaintWithEverythingClippedAway) {
  TestHost host(3, 2);
  FillingControl control(host);
  host.Attach(control);
  host.Refresh();
  control.colour = 0xFF0000;
  host.RefreshRect(7, 0, 9, 2);  // outside the surface
  EXPECT_EQ(Picture(host), (std::vector<std::string>{"RRR", "RRR"}));
  EXPECT_EQ(control.log.size(), 2u);
  EXPECT_EQ(host.PartialPaintCount(), 1);
}

TEST(TestHostRefreshRect, RepaintsEverythingWhenThePixelsCannotBeKept) {
  struct Case {
    const char* name;
    std::function<void(TestHost&)> before;
  };
  const Case cases[] = {
      {"partial repaints off", [](TestHost& h) { h.SetPartialRepaints(false); }},
      {"never painted", nullptr},
      {"resized since", [](TestHost& h) { h.Resize(4 * kTwipsPerPixel, 2 * kTwipsPerPixel); }},
      {"background changed", [](TestHost& h) { h.SetBackground(0x00FF00); }},
  };
  for (const Case& c : cases) {
    TestHost host(4, 2);
    FillingControl control(host);
    host.Attach(control);
    if (c.before == nullptr) {
      host.RefreshRect(0, 0, 1, 1);
    } else {
      host.Refresh();
      c.before(host);
      control.colour = 0xFF0000;
      control.log.clear();
      host.RefreshRect(0, 0, 1, 1);
    }
    EXPECT_EQ(control.log, (std::vector<std::string>{"whole"})) << c.name;
    EXPECT_EQ(host.PartialPaintCount(), 0) << c.name;
    // Once a complete paint has run, parts are repainted again.
    if (c.before != nullptr && c.name != std::string("partial repaints off")) {
      host.RefreshRect(0, 0, 1, 1);
      EXPECT_EQ(host.PartialPaintCount(), 1) << c.name;
    }
  }
}

TEST(TestHostRefreshRect, ClipComesOffWhenThePaintThrows) {
  TestHost host(2, 2);
  FillingControl control(host);
  host.Attach(control);
  host.Refresh();
  control.throwInPaint = true;
  EXPECT_THROW(host.RefreshRect(0, 0, 1, 1), std::runtime_error);
  EXPECT_FALSE(host.Dc().HasClip());
}

// A host that keeps nothing between paints: the contract's default repaints everything.
TEST(HostSurfaceRefreshRect, DefaultRepaintsEverything) {
  class Minimal : public HostSurface {
   public:
    DeviceContext& Dc() override { return dc; }
    double ScaleWidth() const override { return 1; }
    double ScaleHeight() const override { return 1; }
    double ScaleX(double v, int, int) const override { return v; }
    double ScaleY(double v, int, int) const override { return v; }
    void Resize(double, double) override {}
    void Refresh() override { ++refreshes; }
    bool Enabled() const override { return true; }
    void SetEnabled(bool) override {}
    std::int16_t MousePointer() const override { return 0; }
    void SetMousePointer(std::int16_t) override {}
    PictureRef MouseIcon() const override { return nullptr; }
    void SetMouseIcon(PictureRef) override {}
    int DrawStyle() const override { return 0; }
    void SetDrawStyle(int) override {}
    ColorRef ForeColor() const override { return 0; }
    void SetForeColor(ColorRef) override {}
    DeviceContext dc;
    int refreshes = 0;
  } surface;
  surface.RefreshRect(0, 0, 1, 1);
  EXPECT_EQ(surface.refreshes, 1);
}

}  // namespace
}  // namespace velmora::platform
