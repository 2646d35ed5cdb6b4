// anigif info as a whole program: its JSON on real and hand-built files, and its failures.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/anigif_runner.h"
#include "support/test_files.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using testing::RunAnigif;
using testing::RunResult;

class InfoTest : public ::testing::Test {
 protected:
  static RunResult RunInfo(const fs::path& file) { return RunAnigif({"info", file.string()}); }

  testing::TempDir dir_{"anigif-info"};
};

const fs::path kSuite = testing::TestDataPath("gif-suite");

TEST_F(InfoTest, AnimationWithDelays) {
  const RunResult r = RunInfo(kSuite / "animation-speed.gif");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\n"
            "  \"canvasWidth\": 2,\n"
            "  \"canvasHeight\": 2,\n"
            "  \"loopCount\": 0,\n"
            "  \"colorTables\": [2],\n"
            "  \"frames\": [\n"
            "    {\"left\": 0, \"top\": 0, \"width\": 2, \"height\": 2, \"delay\": 250, "
            "\"disposal\": 0, \"transparent\": 0, \"transparentIndex\": 0, \"colorTable\": 0},\n"
            "    {\"left\": 0, \"top\": 0, \"width\": 2, \"height\": 2, \"delay\": 500, "
            "\"disposal\": 0, \"transparent\": 0, \"transparentIndex\": 0, \"colorTable\": 0},\n"
            "    {\"left\": 0, \"top\": 0, \"width\": 2, \"height\": 2, \"delay\": 1000, "
            "\"disposal\": 0, \"transparent\": 0, \"transparentIndex\": 0, \"colorTable\": 0},\n"
            "    {\"left\": 0, \"top\": 0, \"width\": 2, \"height\": 2, \"delay\": 2000, "
            "\"disposal\": 0, \"transparent\": 0, \"transparentIndex\": 0, \"colorTable\": 0}\n"
            "  ]\n"
            "}\n");
}

TEST_F(InfoTest, LoopCountAndLocalTables) {
  const RunResult loops = RunInfo(kSuite / "loop-max.gif");
  EXPECT_EQ(loops.status, 0);
  EXPECT_NE(loops.out.find("\"loopCount\": 65535,"), std::string::npos) << loops.out;
  EXPECT_NE(loops.out.find("\"colorTables\": [8],"), std::string::npos) << loops.out;

  const RunResult local = RunInfo(kSuite / "no-global-color-table.gif");
  EXPECT_EQ(local.status, 0);
  // Table 0 is listed although the file has no global table.
  EXPECT_NE(local.out.find("\"colorTables\": [0, 2],"), std::string::npos) << local.out;
  EXPECT_NE(local.out.find("\"colorTable\": 1}"), std::string::npos) << local.out;
}

TEST_F(InfoTest, TransparencyDisposalAndATableCutOff) {
  const fs::path file = dir_.Write(
      "cut.gif",
      {'G',  'I',  'F',  '8',  '9',  'a',  4,    0,    4, 0,
       0x80, 0,    0,                                            // header, 2-colour global table
       0,    0,    0,    0xFF, 0xFF, 0xFF,                       // 14..19 global table
       0x21, 0xF9, 0x04, 0x09, 0x0A, 0x00, 0x01, 0x00,           // GCE: disposal 2, transparent 1
       0x2C, 1,    0,    2,    0,    3,    0,    4,    0, 0x00,  // image 3 x 4 at (1, 2)
       0x02, 0x02, 0x4C, 0x01, 0x00,                             // min code size, data, terminator
       0x2C, 0,    0,    0,    0,    1,    0,    1,    0, 0x81,  // image with a 4-colour table...
       1,    2,    3});                                          // ...cut off
  const RunResult r = RunInfo(file);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\n"
            "  \"canvasWidth\": 4,\n"
            "  \"canvasHeight\": 6,\n"
            "  \"loopCount\": 0,\n"
            "  \"colorTables\": [2, 0],\n"
            "  \"frames\": [\n"
            "    {\"left\": 1, \"top\": 2, \"width\": 3, \"height\": 4, \"delay\": 100, "
            "\"disposal\": 2, \"transparent\": 1, \"transparentIndex\": 1, \"colorTable\": 0}\n"
            "  ]\n"
            "}\n");
}

TEST_F(InfoTest, FailuresExitWithStatusOne) {
  const fs::path notGif = dir_.Write("not.gif", {'h', 'e', 'l', 'l', 'o', '\n'});
  const RunResult bad = RunInfo(notGif);
  EXPECT_EQ(bad.status, 1);
  EXPECT_TRUE(bad.out.empty());
  EXPECT_EQ(bad.err, "anigif: " + notGif.string() + ": no usable frame\n");

  const fs::path missing = dir_ / "missing.gif";
  const RunResult gone = RunInfo(missing);
  EXPECT_EQ(gone.status, 1);
  EXPECT_TRUE(gone.out.empty());
  EXPECT_NE(gone.err.find(missing.string()), std::string::npos) << gone.err;

  const RunResult directory = RunInfo(dir_.path());
  EXPECT_EQ(directory.status, 1);
  EXPECT_NE(directory.err.find("cannot read"), std::string::npos) << directory.err;

  // A header and a global table but no image.
  const RunResult empty =
      RunInfo(dir_.Write("noimage.gif", {'G',  'I', 'F', '8', '7', 'a', 1, 0, 1, 0,
                                         0x80, 0,   0,   0,   0,   0,   1, 1, 1, 0x3B}));
  EXPECT_EQ(empty.status, 1);
  EXPECT_NE(empty.err.find("no usable frame"), std::string::npos);
}

}  // namespace
}  // namespace velmora
