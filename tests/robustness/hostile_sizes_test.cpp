// Hostile sizes: files of a few kilobytes that declare huge frames, huge frame counts, a strip
// wider than any bitmap, or a vast logical screen. Each case loads, paints and encodes in a
// child process so that the child's peak resident memory can be checked against the bound (1 GiB)
// without the test's own allocations in the way; the child reports what the control said.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_entries.h"
#include "support/gif_builder.h"

namespace velmora {
namespace {

using testing::BuildHostileGif;
using testing::HostileGif;

constexpr long kMaxResidentKiB = 1L << 20;  // 1 GiB

struct ChildReport {
  std::int32_t loaded = -1;
  std::int32_t frames = -1;
  std::int32_t encodeOk = -1;
};

// The child: a run-mode control on a 64 x 64 host decoding every frame during the load, one
// paint, a few animation ticks (fewer for a huge canvas), an encode of the current frame.
ChildReport LoadInThisProcess(const std::vector<std::uint8_t>& gif, std::int32_t stretch) {
  platform::TestHost host(64, 64, true);
  ChildReport report;
  {
    ucAniGIF control(host);
    host.Attach(control);
    control.SetDelayAnimation(0);
    control.SetStretch(stretch);
    const bool loaded = control.LoadAnimatedGIF_Array(ByteArrayArg::FromSpan(gif));
    report.loaded = loaded ? 1 : 0;
    report.frames = control.FrameCount();
    fuzzing::Tolerating([&] { host.Refresh(); });
    fuzzing::RunAnimation(host, control);
    report.encodeOk = fuzzing::EncodeCurrentFrame(control) ? 1 : 0;
    host.Detach();
  }
  return report;
}

struct ChildResult {
  ChildReport report;
  bool exitedCleanly = false;
  long maxResidentKiB = 0;
};

ChildResult LoadInChild(const std::vector<std::uint8_t>& gif, std::int32_t stretch) {
  ChildResult result;
  std::array<int, 2> fds{};
  if (pipe(fds.data()) != 0) return result;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const ChildReport report = LoadInThisProcess(gif, stretch);
    const ssize_t written = write(fds[1], &report, sizeof report);
    _exit(written == static_cast<ssize_t>(sizeof report) ? 0 : 3);
  }
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return result;
  }
  ChildReport report;
  const ssize_t got = read(fds[0], &report, sizeof report);
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.exitedCleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (got == static_cast<ssize_t>(sizeof report)) result.report = report;
  result.maxResidentKiB = usage.ru_maxrss;
  return result;
}

struct HostileCase {
  const char* name;
  HostileGif gif;
  std::int32_t stretch;
  bool loads;
  std::int32_t frames;  // FrameCount after the load
};

// Bounds that decide these outcomes: the raster layer refuses a bitmap past 256 MiB of pixels or
// with a side above 2^20; the parser stops at 32764 frames; one frame gets no canvas.
const HostileCase kCases[] = {
    {"one 65535 x 65535 frame", {65535, 65535, 1, 0, 0, 65535, 65535}, 1, false, 0},
    {"30000 frames of 1 x 1", {1, 1, 30000, 0, 0, 1, 1}, 1, true, 30000},
    {"40000 frames of 1 x 1 stop at the frame limit", {1, 1, 40000, 0, 0, 1, 1}, 0, true, 32764},
    {"5000 frames of 200 x 200", {200, 200, 5000, 0, 0, 200, 200}, 4, true, 5000},
    {"5000 frames of 200 x 200, restore to previous",
     {200, 200, 5000, 0, 0, 200, 200, 3},
     2,
     true,
     5000},
    {"17 frames 65535 wide: a strip wider than any bitmap",
     {65535, 1, 17, 0, 0, 65535, 1},
     1,
     false,
     0},
    {"32764 frames 65535 wide: a strip near 2^31 columns",
     {65535, 1, 32764, 0, 0, 65535, 1},
     1,
     false,
     0},
    // Unstretched: a stretched paint resamples all 268 million pixels (0.5 s a paint in a
    // release build, a minute under the sanitizers).
    {"the largest strip the bitmap bound allows", {65535, 4096, 1, 0, 0, 65535, 4096}, 0, true, 1},
    {"one row more than the bitmap bound allows", {65535, 4097, 1, 0, 0, 65535, 4097}, 1, false, 0},
    {"65535 x 65535 screen, one 1 x 1 frame in its corner",
     {65535, 65535, 1, 65534, 65534, 1, 1},
     1,
     true,
     1},
    {"65535 x 65535 screen, one 1 x 1 frame in its corner, unstretched",
     {65535, 65535, 1, 65534, 65534, 1, 1},
     0,
     true,
     1},
    {"two corner frames need a 65535 x 65535 canvas",
     {65535, 65535, 2, 65534, 65534, 1, 1},
     1,
     false,
     0},
    {"two corner frames restored to background need no canvas",
     {65535, 65535, 2, 65534, 65534, 1, 1, 2},
     3,
     true,
     2},
};

TEST(HostileSizes, LoadOrFailWithinTheMemoryBound) {
  for (const HostileCase& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::uint8_t> gif = BuildHostileGif(c.gif);
    ASSERT_LE(gif.size(), std::size_t{1} << 20);
    const ChildResult result = LoadInChild(gif, c.stretch);
    ASSERT_TRUE(result.exitedCleanly);
    EXPECT_EQ(result.report.loaded, c.loads ? 1 : 0);
    EXPECT_EQ(result.report.frames, c.frames);
    EXPECT_EQ(result.report.encodeOk, 1);
    EXPECT_LT(result.maxResidentKiB, kMaxResidentKiB);
  }
}

// The in-process route the other tests take agrees with the child for a case that fails early.
TEST(HostileSizes, HugeFrameFailsInProcessAndLeavesTheControlEmpty) {
  const ChildReport report =
      LoadInThisProcess(BuildHostileGif({65535, 65535, 1, 0, 0, 65535, 65535}), 1);
  EXPECT_EQ(report.loaded, 0);
  EXPECT_EQ(report.frames, 0);
}

// Every cut of a file with many frames stays within the frame limit and never counts more
// frames than whole images before the cut (plus the one being cut).
TEST(HostileSizes, CutsOfAManyFrameFileCountAtMostTheImagesBeforeTheCut) {
  const HostileGif g{4, 4, 12, 1, 1, 2, 2};
  const std::vector<std::uint8_t> gif = BuildHostileGif(g);
  constexpr std::size_t kHeaderBytes = 6 + 7 + 6;
  constexpr std::size_t kImageBytes = 10 + 5;
  for (std::size_t cut = 0; cut <= gif.size(); ++cut) {
    SCOPED_TRACE(cut);
    platform::TestHost host(8, 8, true);
    ucAniGIF control(host);
    host.Attach(control);
    control.SetDelayAnimation(0);
    const bool loaded = control.LoadAnimatedGIF_Array(
        ByteArrayArg::FromSpan(std::span<const std::uint8_t>(gif.data(), cut)));
    // An image is kept once its descriptor and code size byte are there: 10 bytes into it.
    const std::size_t whole = cut < kHeaderBytes ? 0 : (cut - kHeaderBytes) / kImageBytes;
    const bool partial =
        cut >= kHeaderBytes && (cut - kHeaderBytes) % kImageBytes >= 11 && whole < 12;
    const auto expected = static_cast<std::int32_t>(std::min<std::size_t>(12, whole + partial));
    EXPECT_EQ(control.FrameCount(), expected);
    EXPECT_EQ(loaded, expected > 0);
    host.Detach();
  }
}

}  // namespace
}  // namespace velmora
