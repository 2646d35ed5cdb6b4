// The damage of one animation step, on tiny hand-built documents, with the expected rectangles
// written out; and the view a paint is remembered by.

#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "support/control_fixture.h"
#include "support/gif_builder.h"
#include "support/render_documents.h"
#include "ucAniGIF/render/damage.h"

namespace velmora {
namespace {

using testing::MakeDocument;
using testing::Table;

const ColorTable kTable = Table({0x000000, 0xFF0000, 0x00FF00, 0x0000FF});

struct Expected {
  int left, top, right, bottom;
};

void ExpectRect(const std::optional<platform::Rect>& r, Expected e, const char* what) {
  ASSERT_TRUE(r.has_value()) << what;
  EXPECT_EQ(r->left, e.left) << what;
  EXPECT_EQ(r->top, e.top) << what;
  EXPECT_EQ(r->right, e.right) << what;
  EXPECT_EQ(r->bottom, e.bottom) << what;
}

// Every frame restores to background, so the builder makes no canvas: direct mode. Canvas
// 8 x 6; frame 1 is 2 x 2 at (1, 1), frame 2 is 1 x 3 at (4, 0), frame 3 the whole canvas.
GifDocument DirectDocument() {
  return MakeDocument({{.left = 1, .top = 1, .width = 2, .height = 2, .disposal = 2},
                       {.left = 4, .top = 0, .width = 1, .height = 3, .disposal = 2},
                       {.left = 0, .top = 0, .width = 8, .height = 6, .disposal = 2}},
                      {kTable});
}

TEST(AdvanceDamage, DirectModeIsBothFramesDestinations) {
  GifDocument doc = DirectDocument();
  ASSERT_FALSE(doc.CompositeCanvas.Bitmap);
  ControlState state;
  const SurfaceSize surface{8, 6};
  ExpectRect(AdvanceDamage(doc, state, 1, surface), {1, 0, 5, 3}, "1:1");
  state.OffsetX = 2;
  state.OffsetY = -1;
  ExpectRect(AdvanceDamage(doc, state, 1, surface), {3, -1, 7, 2}, "offsets, not cut");
  // Scaled 2x: offsets scale with the positions, (1+2, 1-1) * 2 and (4+2, 0-1) * 2.
  doc.Header.ScaleFactorX = doc.Header.ScaleFactorY = 2.0f;
  ExpectRect(AdvanceDamage(doc, state, 1, surface), {6, -2, 14, 4}, "scaled");
  // 1.5x: frame 1 at x round(4.5) = 4 (halves to even), 3 x 3; frame 2 at (9, round(-1.5) = -2),
  // 2 x 4.
  doc.Header.ScaleFactorX = doc.Header.ScaleFactorY = 1.5f;
  ExpectRect(AdvanceDamage(doc, state, 1, surface), {4, -2, 11, 3}, "rounded");
}

TEST(AdvanceDamage, NoneWhereOnlyACompleteRepaintWillDo) {
  GifDocument doc = DirectDocument();
  ControlState state;
  const SurfaceSize surface{8, 6};
  EXPECT_FALSE(AdvanceDamage(doc, state, 3, surface)) << "the last frame wraps to frame 1";
  EXPECT_FALSE(AdvanceDamage(doc, state, 0, surface)) << "nothing shown";
  EXPECT_FALSE(AdvanceDamage(doc, state, 9, surface)) << "not a frame";
  state.OffsetX = std::numeric_limits<std::int32_t>::max();
  doc.Header.ScaleFactorX = 2.0f;
  EXPECT_FALSE(AdvanceDamage(doc, state, 1, surface)) << "a position past 32 bits";
  // A destination shrunk to nothing skips the background fill: the fill itself changes.
  state = ControlState{};
  doc.Header.ScaleFactorX = doc.Header.ScaleFactorY = 0.25f;
  EXPECT_TRUE(AdvanceDamage(doc, state, 1, surface)) << "no fill, nothing drawn: fine";
  state.SolidBkgColorUsed = kTrue;
  EXPECT_FALSE(AdvanceDamage(doc, state, 1, surface));
}

// Canvas 8 x 6 with a mask: frame 1 covers it (Disposal 1), frame 2 is 2 x 1 at (5, 4) with
// Disposal 3, frame 3 is 1 x 1 at (0, 0).
GifDocument CanvasDocument() {
  return MakeDocument({{.left = 0, .top = 0, .width = 8, .height = 6, .disposal = 1},
                       {.left = 5, .top = 4, .width = 2, .height = 1, .disposal = 3},
                       {.left = 0, .top = 0, .width = 1, .height = 1, .disposal = 1}},
                      {kTable});
}

TEST(AdvanceDamage, CanvasModeAddsTheShownFrameOnlyWhenItsDisposalChangedTheCanvas) {
  GifDocument doc = CanvasDocument();
  ASSERT_TRUE(doc.CompositeCanvas.Bitmap);
  ControlState state;
  const SurfaceSize surface{8, 6};
  ExpectRect(AdvanceDamage(doc, state, 1, surface), {5, 4, 7, 5}, "frame 1 kept: frame 2 only");
  ExpectRect(AdvanceDamage(doc, state, 2, surface), {0, 0, 7, 5}, "frame 2 restored: both");
  state.OffsetX = -3;
  state.OffsetY = 2;
  ExpectRect(AdvanceDamage(doc, state, 1, surface), {2, 6, 4, 7}, "offsets unscaled");
}

TEST(AdvanceDamage, ScaledCanvasGrowsByTheResamplingReach) {
  GifDocument doc = CanvasDocument();
  ControlState state;
  doc.Header.ScaleFactorX = doc.Header.ScaleFactorY = 2.0f;
  // 8 x 6 drawn over 16 x 12: frame 2's columns 5..6 map to 10..14, grown by 2 + 2 each side
  // and cut to the drawing; rows 4..5 map to 8..10, grown likewise and cut at 12.
  ExpectRect(AdvanceDamage(doc, state, 1, SurfaceSize{16, 12}), {6, 4, 16, 12}, "2x");
  // Shrunk to 4 x 3: columns 2..4 (grown by 1 + 2), rows 2..3 (grown likewise), cut.
  doc.Header.ScaleFactorX = doc.Header.ScaleFactorY = 0.5f;
  ExpectRect(AdvanceDamage(doc, state, 1, SurfaceSize{4, 3}), {0, 0, 4, 3}, "halved");
  // The offsets shift the whole drawing.
  state.OffsetX = 100;
  ExpectRect(AdvanceDamage(doc, state, 1, SurfaceSize{4, 3}), {100, 0, 104, 3}, "offset");
}

TEST(PaintView, TakesEverythingAPaintDependsOn) {
  GifDocument doc = CanvasDocument();
  ControlState state;
  const PaintView base = ViewOf(doc, state, 2, SurfaceSize{8, 6}, true);
  EXPECT_EQ(base.frame, 2);
  EXPECT_TRUE(base.canvasMode);
  EXPECT_TRUE(base.masked);
  EXPECT_EQ(base, ViewOf(doc, state, 2, SurfaceSize{8, 6}, true));
  EXPECT_NE(base, ViewOf(doc, state, 1, SurfaceSize{8, 6}, true));
  EXPECT_NE(base, ViewOf(doc, state, 2, SurfaceSize{8, 7}, true));
  EXPECT_NE(base, ViewOf(doc, state, 2, SurfaceSize{8, 6}, false));
  // The solid colour counts only while it is used, and then as the colour painted.
  state.SolidBkgColor = 0x123456;
  EXPECT_EQ(base, ViewOf(doc, state, 2, SurfaceSize{8, 6}, true));
  state.SolidBkgColorUsed = kTrue;
  state.SolidBkgColor = 0x80000005;
  platform::SetSysColorOverride(5, 0x00010203);
  const PaintView system = ViewOf(doc, state, 2, SurfaceSize{8, 6}, true);
  EXPECT_EQ(system.solidBkg, 0x00010203u);
  platform::SetSysColorOverride(5, 0x00040506);
  EXPECT_NE(system, ViewOf(doc, state, 2, SurfaceSize{8, 6}, true));
  platform::ClearSysColorOverrides();
}

// Which repaints the control asks for as it animates: partial steps from frame k to k + 1 after a
// complete paint of frame k; complete ones for the wrap and after anything the view does not see.
TEST(PartialRepaintRequests, TickAndStepAskForTheDamageOnly) {
  testing::TestGif gif;
  gif.loopCount = 0;
  gif.frames.push_back(testing::SolidFrame(6, 4, 0));
  gif.frames.push_back(testing::SolidFrame(2, 1, 1));
  gif.frames.back().left = 3;
  gif.frames.back().top = 2;
  gif.frames.push_back(testing::SolidFrame(1, 1, 2));
  testing::ControlFixture f(6, 4);
  f.control().SetStretch(4);
  f.control().SetDelayAnimation(0);
  ASSERT_TRUE(f.Load(testing::BuildGif(gif)));
  platform::TestHost& host = f.host();
  const auto tick = [&] { f.clock().AdvanceTo(f.clock().NextDue()); };
  const auto last = [&] {
    const platform::Rect r = host.LastPartialRect();
    return std::vector<int>{r.left, r.top, r.right, r.bottom};
  };

  tick();  // nothing complete was painted since the load: complete
  EXPECT_EQ(f.control().CurrentFrame(), 2);
  EXPECT_EQ(host.PartialPaintCount(), 0);
  tick();  // 2 -> 3 after the complete paint of 2
  EXPECT_EQ(host.PartialPaintCount(), 1);
  EXPECT_EQ(last(), (std::vector<int>{0, 0, 1, 1}));
  tick();  // the wrap to frame 1 empties the canvas: complete
  EXPECT_EQ(host.PartialPaintCount(), 1);
  tick();  // 1 -> 2
  EXPECT_EQ(host.PartialPaintCount(), 2);
  EXPECT_EQ(last(), (std::vector<int>{3, 2, 5, 3}));

  f.control().SetAction(2);  // pause and play again: the next step is complete
  f.control().SetAction(1);
  tick();
  EXPECT_EQ(host.PartialPaintCount(), 2);
  f.control().SetAction(3);  // the step command, 3 -> 1: a wrap
  f.control().SetAction(3);  // 1 -> 2
  EXPECT_EQ(host.PartialPaintCount(), 3);
  host.Resize(6 * platform::kTwipsPerPixel, 4 * platform::kTwipsPerPixel);
  f.control().SetAction(3);  // after a resize: complete
  EXPECT_EQ(host.PartialPaintCount(), 3);
  host.Refresh();  // the host's expose is a complete paint of frame 3
  f.control().SetAction(4);  // restart: frame 1, complete
  tick();
  EXPECT_EQ(host.PartialPaintCount(), 4);
  EXPECT_EQ(f.control().CurrentFrame(), 2);
  // A part the host repaints of its own accord (an expose of part of the window) leaves the rest
  // of the surface unknown to the control: the next step is complete.
  host.RefreshRect(0, 0, 1, 1);
  EXPECT_EQ(host.PartialPaintCount(), 5);
  tick();
  EXPECT_EQ(host.PartialPaintCount(), 5);
  tick();  // 3 -> 1 wraps; then 1 -> 2 is partial again
  tick();
  EXPECT_EQ(host.PartialPaintCount(), 6);
}

}  // namespace
}  // namespace velmora
