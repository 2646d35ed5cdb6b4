// Partial repaints against complete ones. Two controls run side by side on the same GIF and the
// same settings: one on a host that repaints only the damage the control asks for, one on a host
// that repaints everything whatever it is asked. After every frame step their whole surfaces
// must be equal byte for byte: a partial repaint that leaves a single pixel different from the
// complete repaint is a fault. Every file of the shared corpus and of the GIF suite, twice
// around the loop, at 1:1, with offsets, stretched in every mode, mirrored, over a solid
// background, on surfaces larger than the canvas, by the step command and by the timer.

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/test_host.h"
#include "support/control_fixture.h"
#include "support/gif_builder.h"
#include "support/test_files.h"
#include "ucAniGIF/control/ucAniGIF.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using platform::TestHost;

struct Scenario {
  const char* name;
  int stretch = 4;
  // Surface size from the canvas size (before the control's own resize, if its mode resizes).
  std::function<std::pair<int, int>(int, int)> surface = [](int w, int h) {
    return std::pair{w, h};
  };
  int offsetX = 0;
  int offsetY = 0;
  int mirrored = 0;
  bool solidBkg = false;
  std::uint32_t solidBkgColor = 0;
  platform::ColorRef background = 0;
  bool viaTimer = false;
  // Run on both controls after the first time round the loop, before the next step.
  std::function<void(ucAniGIF&, int canvasW, int canvasH)> midway = nullptr;
  // Scaled set-ups repaint a scaled surface every step; in a debug build they run on files up to
  // this many canvas pixels x frames, to keep the suite within seconds.
  std::int64_t pixelBudget = 0;  // 0: every file
};

// One control on its own headless host.
using Side = testing::ControlFixture;

// Where two surfaces first differ, or "" when they are equal.
std::string FirstDifference(const TestHost& a, const TestHost& b) {
  if (a.WidthPx() != b.WidthPx() || a.HeightPx() != b.HeightPx()) {
    return "surface sizes differ";
  }
  const platform::Bitmap& x = a.SurfaceBitmap();
  const platform::Bitmap& y = b.SurfaceBitmap();
  if (std::memcmp(x.Bits(), y.Bits(), x.SizeBytes()) == 0) return "";
  for (int row = 0; row < a.HeightPx(); ++row) {
    for (int col = 0; col < a.WidthPx(); ++col) {
      if (a.Pixel(col, row) != b.Pixel(col, row)) {
        std::ostringstream out;
        out << "pixel (" << col << ", " << row << "): partial " << std::hex << a.Pixel(col, row)
            << ", complete " << b.Pixel(col, row);
        return out.str();
      }
    }
  }
  return "padding bytes differ";
}

void Configure(ucAniGIF& c, const Scenario& s) {
  c.SetDelayAnimation(0);  // every frame decoded by the load
  c.SetStretch(s.stretch);
  c.SetMirrored(s.mirrored);
  c.SetOffsetX(s.offsetX);
  c.SetOffsetY(s.offsetY);
  c.SetSolidBkgColor(s.solidBkgColor);
  c.SetSolidBkgColorUsed(s.solidBkg);
}

// One step on both sides: the step command, or the next timer tick.
void Advance(Side& side, const Scenario& s) {
  if (!s.viaTimer) {
    side.control().SetAction(3);
    return;
  }
  platform::ManualClock& clock = side.host().Clock();
  clock.AdvanceTo(clock.NextDue());
}

struct Outcome {
  bool loaded = false;
  int steps = 0;
  int partialPaints = 0;
};

// Runs one file under one set-up; reports the first difference as a test failure.
Outcome Compare(const std::string& label, const std::vector<std::uint8_t>& bytes, const Scenario& s,
                int canvasW, int canvasH) {
  Outcome outcome;
  const auto [w, h] = s.surface(canvasW, canvasH);
  Side partial(w, h);
  Side complete(w, h);
  partial.host().SetPartialRepaints(true);
  complete.host().SetPartialRepaints(false);
  for (Side* side : {&partial, &complete}) {
    side->host().SetBackground(s.background);
    Configure(side->control(), s);
  }
  const bool loadedPartial = partial.control().LoadAnimatedGIF_Array(ByteArrayArg::FromSpan(bytes));
  const bool loadedComplete =
      complete.control().LoadAnimatedGIF_Array(ByteArrayArg::FromSpan(bytes));
  EXPECT_EQ(loadedPartial, loadedComplete) << label;
  if (!loadedPartial || !loadedComplete) return outcome;
  outcome.loaded = true;
  for (Side* side : {&partial, &complete}) {
    side->control().SetLoops(0);  // round and round, so the timer never runs out
    if (s.viaTimer) {
      side->host().Refresh();  // the host's first expose shows frame 1
    } else {
      side->control().SetAction(0);  // stop: frame 1, completely repainted
    }
  }
  const std::string first = FirstDifference(partial.host(), complete.host());
  EXPECT_EQ(first, "") << label << " at frame 1 before any step";
  if (!first.empty()) return outcome;

  const int frames = partial.control().FrameCount();
  for (int step = 1; step <= 2 * frames; ++step) {
    if (step == frames + 1 && s.midway) {
      for (Side* side : {&partial, &complete}) s.midway(side->control(), canvasW, canvasH);
    }
    Advance(partial, s);
    Advance(complete, s);
    ++outcome.steps;
    EXPECT_EQ(partial.control().CurrentFrame(), complete.control().CurrentFrame()) << label;
    const std::string diff = FirstDifference(partial.host(), complete.host());
    EXPECT_EQ(diff, "") << label << " after step " << step << " to frame "
                        << partial.control().CurrentFrame();
    if (!diff.empty()) break;
  }
  outcome.partialPaints = partial.host().PartialPaintCount();
  EXPECT_EQ(complete.host().PartialPaintCount(), 0) << label;
  return outcome;
}

struct TestGif {
  std::string name;
  std::vector<std::uint8_t> bytes;
  int canvasW = 0;
  int canvasH = 0;
  int frames = 0;
};

// The test GIFs the control loads, with the canvas size it finds, read once.
const std::vector<TestGif>& TestGifs() {
  static const std::vector<TestGif> gifs = [] {
    std::vector<fs::path> files = testing::TestDataGifs("gif-corpus");
    for (const fs::path& file : testing::TestDataGifs("gif-suite")) files.push_back(file);
    std::vector<TestGif> loaded;
    for (const fs::path& file : files) {
      TestGif gif{file.filename().string(), testing::ReadBytes(file)};
      TestHost probeHost(1, 1, true);
      ucAniGIF probe(probeHost);
      probe.SetDelayAnimation(0);
      if (!probe.LoadAnimatedGIF_Array(ByteArrayArg::FromSpan(gif.bytes))) continue;
      gif.canvasW = probe.Document().Header.CanvasWidth;
      gif.canvasH = probe.Document().Header.CanvasHeight;
      gif.frames = probe.FrameCount();
      loaded.push_back(std::move(gif));
    }
    return loaded;
  }();
  return gifs;
}

#ifdef NDEBUG
constexpr std::int64_t kScaledBudget = 0;
#else
constexpr std::int64_t kScaledBudget = 4'000'000;
#endif

const std::vector<Scenario>& Scenarios() {
  static const std::vector<Scenario> setups = [] {
    std::vector<Scenario> v;
    v.push_back({.name = "1:1"});
    v.push_back({.name = "1:1 by the timer", .viaTimer = true});
    v.push_back({.name = "offsets on a larger surface",
                 .stretch = 0,
                 .surface = [](int w, int h) { return std::pair{w + 13, h + 9}; },
                 .offsetX = 5,
                 .offsetY = 3,
                 .background = 0x336699});
    v.push_back({.name = "negative offsets",
                 .offsetX = -4,
                 .offsetY = -7,
                 .background = 0x102030});
    v.push_back({.name = "mirrored left-right", .mirrored = 1});
    v.push_back({.name = "mirrored top-bottom, offset", .offsetX = 2, .mirrored = 2});
    v.push_back({.name = "mirrored both ways by the timer", .mirrored = 3, .viaTimer = true});
    v.push_back({.name = "solid background on a larger surface",
                 .stretch = 0,
                 .surface = [](int w, int h) { return std::pair{w + 6, h + 11}; },
                 .offsetX = 3,
                 .offsetY = 1,
                 .solidBkg = true,
                 .solidBkgColor = 0x00A0B0C0,
                 .background = 0x010203});
    v.push_back({.name = "stretched 2x (fill)",
                 .stretch = 2,
                 .surface = [](int w, int h) { return std::pair{2 * w, 2 * h}; },
                 .offsetX = 3,
                 .offsetY = -2,
                 .solidBkg = true,
                 .solidBkgColor = 0x00204060,
                 .pixelBudget = kScaledBudget});
    v.push_back({.name = "fit, enlarged 1.6x, mirrored, by the timer",
                 .stretch = 1,
                 .surface = [](int w, int h) { return std::pair{w * 8 / 5 + 1, h * 8 / 5 + 1}; },
                 .mirrored = 1,
                 .viaTimer = true,
                 .pixelBudget = kScaledBudget});
    v.push_back({.name = "fill, uneven axes",
                 .stretch = 2,
                 .surface = [](int w, int h) { return std::pair{w * 3 / 2 + 1, h * 2 / 3 + 1}; },
                 .offsetY = 4,
                 .mirrored = 2,
                 .background = 0x445566,
                 .pixelBudget = kScaledBudget});
    v.push_back({.name = "shrink to fit, halved",
                 .stretch = 3,
                 .surface = [](int w, int h) { return std::pair{w / 2 + 1, h / 2 + 1}; },
                 .offsetX = 1,
                 .pixelBudget = kScaledBudget});
    // Changes while the animation runs, which the control does not repaint at once: the next
    // tick must repaint everything.
    v.push_back({.name = "offset changed while playing",
                 .offsetX = 1,
                 .viaTimer = true,
                 .midway = [](ucAniGIF& c, int, int) { c.SetOffsetX(c.OffsetX() + 3); }});
    v.push_back({.name = "solid background switched on while playing",
                 .viaTimer = true,
                 .midway = [](ucAniGIF& c, int, int) {
                   c.SetSolidBkgColor(0x80000005);  // a system colour
                   c.SetSolidBkgColorUsed(true);
                 }});
    v.push_back({.name = "mirrored while playing",
                 .viaTimer = true,
                 .midway = [](ucAniGIF& c, int, int) { c.SetMirrored(3); }});
    // Another GIF of the same canvas size loaded while frame 1 is shown, on a surface the load
    // does not resize: the old picture stays until the next paint, which must be complete.
    v.push_back({.name = "another GIF loaded while playing",
                 .stretch = 0,
                 .surface = [](int w, int h) { return std::pair{w + 2, h + 2}; },
                 .viaTimer = true,
                 .midway = [](ucAniGIF& c, int w, int h) {
                   testing::TestGif gif;
                   gif.loopCount = 0;
                   gif.frames.push_back(testing::SolidFrame(w, h, 2));
                   gif.frames.push_back(testing::SolidFrame(1, 1, 3));
                   const std::vector<std::uint8_t> bytes = testing::BuildGif(gif);
                   ASSERT_TRUE(c.LoadAnimatedGIF_Array(ByteArrayArg::FromSpan(bytes)));
                 }});
    return v;
  }();
  return setups;
}

class PartialRepaint : public ::testing::TestWithParam<std::size_t> {};

TEST_P(PartialRepaint, EqualsCompleteRepaintForEveryTestGif) {
  const Scenario& s = Scenarios()[GetParam()];
  const std::vector<TestGif>& gifs = TestGifs();
  ASSERT_GT(gifs.size(), 50u) << "test GIFs missing under " << VELMORA_TESTDATA_DIR;
  int compared = 0;
  int steps = 0;
  int partialPaints = 0;
  for (const TestGif& gif : gifs) {
    const std::int64_t work = std::int64_t{gif.canvasW} * gif.canvasH * gif.frames;
    if (s.pixelBudget != 0 && work > s.pixelBudget) continue;
    const Outcome o =
        Compare(gif.name + " [" + s.name + "]", gif.bytes, s, gif.canvasW, gif.canvasH);
    if (HasFailure()) return;
    compared += o.loaded ? 1 : 0;
    steps += o.steps;
    partialPaints += o.partialPaints;
  }
  // The comparison must have had something to compare, and partial repaints must have run.
  EXPECT_GT(compared, 50);
  EXPECT_GT(partialPaints, steps / 3) << partialPaints << " partial of " << steps << " steps";
}

INSTANTIATE_TEST_SUITE_P(Scenarios, PartialRepaint,
                         ::testing::Range<std::size_t>(0, Scenarios().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& param) {
                           std::string name;
                           for (const char ch : std::string(Scenarios()[param.param].name)) {
                             name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                           }
                           return std::to_string(param.param) + "_" + name;
                         });

}  // namespace
}  // namespace velmora
