// The load pipeline: file, array and remote sources, the reset every load begins with, and the
// events a load raises.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/control_fixture.h"
#include "support/gif_builder.h"

namespace velmora {
namespace {

using Lines = std::vector<std::string>;
using testing::AnimationGif;
using testing::ControlFixture;

class TempDir {
 public:
  TempDir() {
    path_ = std::filesystem::temp_directory_path() /
            ("ucanigif-load-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::filesystem::path file = path_ / std::filesystem::u8path(name);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return file.string();
  }
  std::string PathOf(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

TEST(IsAnsiPath, CodeUnitsBelow256) {
  struct Case {
    const char* path;
    bool ansi;
  };
  const Case cases[] = {
      {"", true},
      {"/tmp/a.gif", true},
      {"/tmp/caf\xC3\xA9.gif", true},         // U+00E9
      {"/tmp/\xC3\xBF.gif", true},            // U+00FF, the last Latin-1 character
      {"/tmp/\xC4\x80.gif", false},           // U+0100
      {"/tmp/\xE2\x82\xAC.gif", false},       // U+20AC euro sign
      {"/tmp/\xF0\x9F\x98\x80.gif", false},   // U+1F600, a surrogate pair in UTF-16
      {"/tmp/\xC3", false},                   // cut UTF-8
      {"/tmp/\xC1\x81", false},               // overlong 'A'
  };
  for (const Case& c : cases) EXPECT_EQ(IsAnsiPath(c.path), c.ansi) << c.path;
}

TEST(LoadFile, LoadsAFileAndFailsCleanlyOnBadOnes) {
  TempDir dir;
  const std::string good = dir.Write("three.gif", AnimationGif(3, 10));
  const std::string unicode = dir.Write("\xE2\x82\xAC-two.gif", AnimationGif(2, 10));
  const std::string empty = dir.Write("empty.gif", {});
  const std::string text = dir.Write("text.gif", {'h', 'e', 'l', 'l', 'o'});
  struct Case {
    std::string path;
    bool loaded;
    int frames;
  };
  const Case cases[] = {
      {good, true, 3},
      {unicode, true, 2},
      {empty, false, 0},
      {text, false, 0},
      {dir.PathOf("missing.gif"), false, 0},
      {dir.PathOf(""), false, 0},  // a directory
      {"", false, 0},
  };
  for (const Case& c : cases) {
    ControlFixture f;
    ASSERT_TRUE(f.control().LoadAnimatedGIF_File(good));
    EXPECT_EQ(f.control().LoadAnimatedGIF_File(c.path), c.loaded) << c.path;
    EXPECT_EQ(f.control().FrameCount(), c.frames) << c.path;
    EXPECT_EQ(f.control().CurrentFrame(), c.loaded ? 1 : 0) << c.path;
    if (!c.loaded) {
      EXPECT_TRUE(f.control().Document().GifBytes.empty());
      EXPECT_EQ(f.control().Document().FrameStrip.Bitmap, nullptr);
      EXPECT_EQ(f.clock().ActiveCount(), 0u);
    }
  }
}

TEST(LoadArray, TwoDimensionalArrayLoadsInMemoryOrder) {
  std::vector<std::uint8_t> gif = AnimationGif(2, 10);
  const std::size_t size = gif.size();
  gif.resize(300, 0);  // trailing bytes after the trailer are ignored by the parser
  ASSERT_GE(300u, size);
  ControlFixture f;
  ByteArrayArg arg{gif.data(), {3, 100}, 1};
  EXPECT_TRUE(f.control().LoadAnimatedGIF_Array(arg));
  EXPECT_EQ(f.control().FrameCount(), 2);
  EXPECT_EQ(f.control().Document().GifBytes.size(), 300u);  // kept until the deferred pass
}

TEST(LoadArray, ElementSizeCountsBytes) {
  std::vector<std::uint8_t> gif = AnimationGif(2, 10);
  gif.resize((gif.size() + 3) / 4 * 4, 0);
  ControlFixture f;
  ByteArrayArg arg{gif.data(), {static_cast<std::int32_t>(gif.size() / 4)}, 4};
  EXPECT_TRUE(f.control().LoadAnimatedGIF_Array(arg));
  EXPECT_EQ(f.control().Document().GifBytes.size(), gif.size());
}

TEST(LoadArray, NoStorageOrThreeDimensionsFailAndReset) {
  const std::vector<std::uint8_t> gif = AnimationGif(2, 10);
  const ByteArrayArg bad[] = {
      ByteArrayArg{},
      ByteArrayArg{gif.data(), {}, 1},
      ByteArrayArg{gif.data(), {1, 1, static_cast<std::int32_t>(gif.size())}, 1},
  };
  for (const ByteArrayArg& arg : bad) {
    ControlFixture f;
    f.control().SetDelayAnimation(0);
    ASSERT_TRUE(f.Load(gif));
    EXPECT_FALSE(f.control().LoadAnimatedGIF_Array(arg));
    EXPECT_EQ(f.control().CurrentFrame(), 0);
    EXPECT_TRUE(f.control().Document().GifBytes.empty());
  }
}

TEST(LoadArray, ImpossibleByteCountFailsWithoutTouchingTheControl) {
  const std::vector<std::uint8_t> gif = AnimationGif(2, 10);
  ControlFixture f;
  ASSERT_TRUE(f.Load(gif));
  EXPECT_FALSE(f.control().LoadAnimatedGIF_Array(ByteArrayArg{gif.data(), {65536, 65536}, 1}));
  EXPECT_FALSE(f.control().LoadAnimatedGIF_Array(ByteArrayArg{gif.data(), {-5}, 1}));
  EXPECT_EQ(f.control().FrameCount(), 2);
}

TEST(LoadEvents, OneFrameRaisesFrameChangedAndMultiFrameDoesNot) {
  ControlFixture one;
  ASSERT_TRUE(one.Load(AnimationGif(1, 10)));
  EXPECT_EQ(one.events().Log(), (Lines{"FrameChanged 1 false"}));
  EXPECT_EQ(one.host().PaintCount(), 1);

  ControlFixture many;
  ASSERT_TRUE(many.Load(AnimationGif(3, 10)));
  EXPECT_EQ(many.events().Log(), Lines{});

  ControlFixture design(4, 3, /*userMode=*/false);
  ASSERT_TRUE(design.Load(AnimationGif(1, 10)));
  EXPECT_EQ(design.events().Log(), Lines{});
}

TEST(LoadResize, StretchModesResizeTheHostAfterALoad) {
  struct Case {
    int stretch;
    int width;
    int height;
  };
  // A 4 x 3 canvas in a 40 x 40 control.
  // Loaders run the resize only for Stretch 1, 3 and 4.
  const Case cases[] = {{0, 40, 40}, {1, 40, 30}, {2, 40, 40}, {3, 4, 3}, {4, 4, 3}};
  for (const Case& c : cases) {
    ControlFixture f(40, 40);
    f.control().SetStretch(c.stretch);
    ASSERT_TRUE(f.Load(AnimationGif(2, 10)));
    EXPECT_EQ(f.host().WidthPx(), c.width) << c.stretch;
    EXPECT_EQ(f.host().HeightPx(), c.height) << c.stretch;
    EXPECT_GE(f.control().Document().Header.CanvasHeight, 0);  // the resize mark is gone
  }
}

TEST(LoadFailure, NotAGifLeavesTheControlEmpty) {
  ControlFixture f;
  ASSERT_TRUE(f.Load(AnimationGif(2, 10)));
  ASSERT_TRUE(f.control().CacheColorTables());
  const std::vector<std::uint8_t> junk{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0};
  EXPECT_FALSE(f.Load(junk));
  EXPECT_EQ(f.control().CurrentFrame(), 0);
  EXPECT_EQ(f.control().FrameCount(), 0);
  EXPECT_EQ(f.control().Action(), 0);
  EXPECT_FALSE(f.control().RestoreColorTables(false));  // the cache went with the reset
  EXPECT_TRUE(f.control().Document().Tables.ColorTables.empty());
}

TEST(LoadTruncation, EveryPrefixLoadsPaintsAndAnimatesOrFailsCleanly) {
  testing::TestGif gif;
  gif.loopCount = 1;
  testing::TestFrame transparent = testing::SolidFrame(3, 2, 1);
  transparent.transparentIndex = 1;
  transparent.disposal = 3;
  transparent.left = 1;
  testing::TestFrame local = testing::SolidFrame(2, 2, 1);
  local.localTable = {0x123456, 0x654321};
  gif.frames = {testing::SolidFrame(4, 3, 0), transparent, local};
  const std::vector<std::uint8_t> bytes = testing::BuildGif(gif);
  int loaded = 0;
  for (std::size_t n = 0; n <= bytes.size(); ++n) {
    ControlFixture f(4, 3);
    const std::vector<std::uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    const bool ok = f.Load(prefix);
    EXPECT_EQ(ok, f.control().FrameCount() > 0) << n;
    f.control().Refresh();
    f.clock().AdvanceTo(2000);
    if (ok) ++loaded;
  }
  EXPECT_GT(loaded, 0);
  ControlFixture whole(4, 3);
  EXPECT_TRUE(whole.Load(bytes));
  EXPECT_EQ(whole.control().FrameCount(), 3);
}

// --- Remote loads ---

TEST(LoadRemote, EmptyPathDoesNothing) {
  ControlFixture f;
  f.control().LoadAnimatedGIF_Remote("");
  EXPECT_TRUE(f.host().AsyncReads().empty());
  EXPECT_EQ(f.events().Log(), Lines{});
}

TEST(LoadRemote, StartsTheReadUnderRemoteGifWithCacheFallback) {
  ControlFixture f;
  f.control().LoadAnimatedGIF_Remote("http://example.invalid/a.gif");
  ASSERT_EQ(f.host().AsyncReads().size(), 1u);
  EXPECT_EQ(f.host().AsyncReads()[0].target, "http://example.invalid/a.gif");
  EXPECT_EQ(f.host().AsyncReads()[0].propertyName, "remoteGIF");
  EXPECT_EQ(f.host().AsyncReads()[0].options, 0x80000u);
}

TEST(LoadRemote, ReadThatCannotStartRaisesFailure) {
  using Failure = platform::TestHost::Failure;
  for (const Failure failure :
       {Failure::kRuntimeError, Failure::kOutOfMemory, Failure::kForeign}) {
    SCOPED_TRACE(static_cast<int>(failure));
    ControlFixture f;
    f.host().SetAsyncReadFailure(failure);
    f.control().LoadAnimatedGIF_Remote("http://example.invalid/a.gif");
    EXPECT_EQ(f.events().Log(), (Lines{"RemoteLoadFailure"}));
  }
}

TEST(LoadRemote, CompleteReportsTheLogicalScreenInTwipsAndLoads) {
  ControlFixture f(40, 40);
  testing::TestGif gif;
  gif.screenWidth = 36;  // larger than the frames' extent of 4 x 3
  gif.screenHeight = 20;
  gif.frames = {testing::SolidFrame(4, 3, 1), testing::SolidFrame(4, 3, 2)};
  f.control().LoadAnimatedGIF_Remote("http://example.invalid/a.gif");
  f.host().DeliverAsync(testing::BuildGif(gif));
  EXPECT_EQ(f.events().Log(), (Lines{"RemoteLoadComplete 540 300"}));
  EXPECT_EQ(f.control().FrameCount(), 2);
  EXPECT_EQ(f.control().ActualWidth(), 60);  // the frames' extent, 4 pixels
  EXPECT_EQ(f.host().WidthPx(), 40);         // Stretch 1: resized to 40 x 30
  EXPECT_EQ(f.host().HeightPx(), 30);
}

TEST(LoadRemote, CancelKeepsTheCurrentGifAnimating) {
  ControlFixture f;
  f.control().SetDelayAnimation(0);
  ASSERT_TRUE(f.Load(AnimationGif(3, 10)));
  f.events().onRemoteLoadComplete = [](float, float, bool& cancel) { cancel = true; };
  f.host().DeliverAsync(AnimationGif(2, 10));
  EXPECT_EQ(f.control().FrameCount(), 3);
  EXPECT_EQ(f.control().Action(), 1);
  f.clock().AdvanceTo(100);
  EXPECT_EQ(f.control().CurrentFrame(), 2);
}

TEST(LoadRemote, LengthAndSignatureChecks) {
  struct Case {
    std::vector<std::uint8_t> data;
    Lines events;
    int frames;
  };
  std::vector<std::uint8_t> fifteen{'G', 'I', 'F', '8', '9', 'a', 2, 0, 3, 0, 0, 0, 0, 0x3B, 0};
  std::vector<std::uint8_t> fourteen(fifteen.begin(), fifteen.end() - 1);
  std::vector<std::uint8_t> upper = AnimationGif(1, 0);
  upper[0] = 'g';
  upper[3] = '8';
  upper[4] = '7';
  upper[5] = 'A';
  std::vector<std::uint8_t> wrong = AnimationGif(1, 0);
  wrong[4] = '8';  // "GIF88a"
  const Case cases[] = {
      {fourteen, {"RemoteLoadFailure"}, 2},
      {fifteen, {"RemoteLoadComplete 30 45"}, 0},  // passes the checks, the parser refuses it
      {upper, {"RemoteLoadComplete 60 45", "FrameChanged 1 false"}, 1},
      {wrong, {"RemoteLoadFailure"}, 2},
      {{}, {"RemoteLoadFailure"}, 2},
  };
  for (const Case& c : cases) {
    ControlFixture f(4, 3, /*userMode=*/true);
    ASSERT_TRUE(f.Load(AnimationGif(2, 10)));
    f.events().Clear();
    f.host().DeliverAsync(c.data);
    EXPECT_EQ(f.events().Log(), c.events) << c.data.size();
    EXPECT_EQ(f.control().FrameCount(), c.frames) << c.data.size();
  }
}

TEST(LoadRemote, RefusedRemoteLoadKeepsDesignModeBytes) {
  ControlFixture f(4, 3, /*userMode=*/false);
  const std::vector<std::uint8_t> gif = AnimationGif(2, 10);
  ASSERT_TRUE(f.Load(gif));
  f.host().DeliverAsync(std::vector<std::uint8_t>(20, 'x'));
  EXPECT_EQ(f.control().Document().GifBytes, gif);
  f.events().onRemoteLoadComplete = [](float, float, bool& cancel) { cancel = true; };
  f.host().DeliverAsync(AnimationGif(1, 10));
  EXPECT_EQ(f.control().Document().GifBytes, gif);
}

TEST(LoadRemote, ErrorStatusCancelsTheReadAndRaisesFailure) {
  ControlFixture f;
  f.control().LoadAnimatedGIF_Remote("http://example.invalid/a.gif");
  f.host().DeliverAsyncProgress(10, 100);
  EXPECT_EQ(f.events().Log(), Lines{});
  f.host().DeliverAsyncError();
  EXPECT_EQ(f.host().AsyncCancels(), (Lines{"remoteGIF"}));
  EXPECT_EQ(f.events().Log(), (Lines{"RemoteLoadFailure"}));
}

}  // namespace
}  // namespace velmora
