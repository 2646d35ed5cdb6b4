// anigif encode as a whole program: the file it writes re-parses (anigif info) as one frame of
// the frame's size at the origin, holds the frame's indices (anigif indexes), and encodes again to
// the same bytes; bad frame numbers and bad files fail with a message and status 1.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/anigif_runner.h"
#include "support/gif_builder.h"
#include "support/test_files.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using testing::ReadText;
using testing::RunResult;

class EncodeToolTest : public ::testing::Test {
 protected:
  static RunResult Run(const std::vector<std::string>& args) { return testing::RunAnigif(args); }

  testing::TempDir dir_{"anigif-encode"};
};

// Three frames on a 5 x 4 canvas; frame 2 is 3 x 2 at (1, 1) with a local table and a
// transparent index.
Bytes ThreeFrameGif() {
  testing::TestGif gif;
  gif.loopCount = 0;
  gif.frames.push_back(testing::SolidFrame(5, 4, 1));
  gif.frames.push_back({.left = 1,
                        .top = 1,
                        .width = 3,
                        .height = 2,
                        .pixels = {3, 2, 1, 0, 1, 2},
                        .localTable = {0x102030, 0x405060, 0x708090, 0xA0B0C0},
                        .transparentIndex = 2});
  gif.frames.push_back(testing::SolidFrame(2, 2, 3));
  return BuildGif(gif);
}

TEST_F(EncodeToolTest, FrameOfASmallFileReparsesAsOneFrame) {
  const fs::path file = testing::TestDataPath("gif-corpus/muybridge.gif");
  const fs::path out = dir_ / "frame1.gif";
  const RunResult r = Run({"encode", file.string(), "1", out.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadText(out).substr(0, 6), "GIF89a");

  const RunResult info = Run({"info", out.string()});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(info.out,
            "{\n"
            "  \"canvasWidth\": 30,\n"
            "  \"canvasHeight\": 20,\n"
            "  \"loopCount\": 0,\n"
            "  \"colorTables\": [256],\n"
            "  \"frames\": [\n"
            "    {\"left\": 0, \"top\": 0, \"width\": 30, \"height\": 20, \"delay\": 0, "
            "\"disposal\": 0, \"transparent\": 0, \"transparentIndex\": 0, \"colorTable\": 0}\n"
            "  ]\n"
            "}\n");
}

// Frame 2 leaves its place on the canvas, its delay and its local table behind: the file is the
// frame alone at (0, 0), its table global, its transparency kept.
TEST_F(EncodeToolTest, LaterFrameKeepsItsIndicesAndTransparency) {
  const fs::path gif = dir_.Write("three.gif", ThreeFrameGif());
  const fs::path out = dir_ / "frame2.gif";
  const RunResult r = Run({"encode", gif.string(), "2", out.string()});
  ASSERT_EQ(r.status, 0) << r.err;

  const RunResult info = Run({"info", out.string()});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(info.out,
            "{\n"
            "  \"canvasWidth\": 3,\n"
            "  \"canvasHeight\": 2,\n"
            "  \"loopCount\": 0,\n"
            "  \"colorTables\": [256],\n"
            "  \"frames\": [\n"
            "    {\"left\": 0, \"top\": 0, \"width\": 3, \"height\": 2, \"delay\": 0, "
            "\"disposal\": 0, \"transparent\": 1, \"transparentIndex\": 2, \"colorTable\": 0}\n"
            "  ]\n"
            "}\n");

  ASSERT_EQ(Run({"indexes", out.string(), (dir_ / "idx").string()}).status, 0);
  EXPECT_EQ(ReadText(dir_ / "idx" / "frame-0001.indexes"), std::string("\3\2\1\0\1\2", 6));

  // The written file, encoded again, is the same file.
  const fs::path again = dir_ / "again.gif";
  ASSERT_EQ(Run({"encode", out.string(), "1", again.string()}).status, 0);
  EXPECT_EQ(ReadText(again), ReadText(out));
}

TEST_F(EncodeToolTest, BadFrameNumberOrFileFails) {
  const fs::path gif = dir_.Write("three.gif", ThreeFrameGif());
  const fs::path notGif = dir_.Write("text.gif", Bytes{'h', 'e', 'l', 'l', 'o'});
  const struct {
    const char* what;
    std::string file;
    std::string frame;
    std::string says = "";  // part of the message, where it names the file's fault
  } cases[] = {
      {"frame 0", gif.string(), "0"},
      {"past the last frame", gif.string(), "4"},
      {"negative", gif.string(), "-1"},
      {"not a number", gif.string(), "two"},
      {"number with a tail", gif.string(), "2x"},
      {"missing file", (dir_ / "missing.gif").string(), "1", ": cannot read the file\n"},
      {"not a GIF", notGif.string(), "1", ": not a GIF with a usable frame\n"},
  };
  for (const auto& c : cases) {
    const fs::path out = dir_ / "out.gif";
    const RunResult r = Run({"encode", c.file, c.frame, out.string()});
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_NE(r.err, "") << c.what;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.what << ": " << r.err;
    EXPECT_FALSE(fs::exists(out)) << c.what;
  }
  // The last frame is still a good number.
  EXPECT_EQ(Run({"encode", gif.string(), "3", (dir_ / "out.gif").string()}).status, 0);
}

TEST_F(EncodeToolTest, WrongArgumentCountIsAUsageError) {
  const fs::path gif = dir_.Write("three.gif", ThreeFrameGif());
  EXPECT_EQ(Run({"encode", gif.string(), "1"}).status, 2);
  EXPECT_EQ(Run({"encode", gif.string(), "1", (dir_ / "a").string(), "extra"}).status, 2);
}

}  // namespace
}  // namespace velmora
