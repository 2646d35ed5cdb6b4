// anigif frames FILE DIR [--background RRGGBB] [--format png|ppm]
//
// Every frame as the control paints it, in order 1..n, on a host surface of the canvas size
// cleared to the background (default black) before each paint: DIR/frame-0001.png, ...
//
// The control is loaded with its defaults in run mode. With Stretch 1 on a surface exactly the
// canvas size the scale is 1, so the files show the frames pixel for pixel. Frames 2..n are
// decoded by the deferred pass first; then the stop command paints frame 1 and the step command
// each following frame, so a composited animation is built up in order from frame 1. A step
// repaints only the part of the surface that changes, and only that part of a PPM file is made
// again from the surface; the rest is the previous file's.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/anigif/command.h"
#include "tools/anigif/frame_writer.h"
#include "tools/anigif/headless.h"

namespace velmora::anigif {
namespace {

constexpr const char* kUsage = "FILE DIR [--background RRGGBB] [--format png|ppm]";

// The host's paint and resize counters, taken before an action.
struct SurfaceCounts {
  int paints = 0;
  int partialPaints = 0;
  int resizes = 0;
};

SurfaceCounts CountsOf(const platform::TestHost& host) {
  return {host.PaintCount(), host.PartialPaintCount(), host.ResizeCount()};
}

// What of the surface the action since `before` may have changed: the rectangle of a partial
// repaint when that was its one paint and nothing was resized (the host clears that rectangle and
// clips the paint to it), else everything (nullopt). Only paints draw on the surface.
std::optional<platform::Rect> ChangedSince(const SurfaceCounts& before,
                                           const platform::TestHost& host) {
  const SurfaceCounts now = CountsOf(host);
  if (now.paints != before.paints + 1 || now.partialPaints != before.partialPaints + 1 ||
      now.resizes != before.resizes) {
    return std::nullopt;
  }
  return host.LastPartialRect();
}

// RRGGBB to the host's 0x00BBGGRR.
bool ParseBackground(const std::string& text, platform::ColorRef& color) {
  if (text.size() != 6) return false;
  char* end = nullptr;
  const unsigned long rgb = std::strtoul(text.c_str(), &end, 16);
  if (end != text.c_str() + text.size()) return false;
  color = platform::ColorRefFromRgbQuad(static_cast<platform::RgbQuad>(rgb));
  return true;
}

int RunFrames(const std::vector<std::string>& args) {
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: anigif frames %s\n", kUsage);
    return 2;
  }
  const std::string& path = args[0];
  const std::string& dir = args[1];
  platform::ColorRef background = 0;
  std::string format = "png";
  for (std::size_t i = 2; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--background" && hasValue && ParseBackground(args[i + 1], background)) {
      ++i;
    } else if (args[i] == "--format" && hasValue &&
               (args[i + 1] == "png" || args[i + 1] == "ppm")) {
      format = args[++i];
    } else {
      std::fprintf(stderr, "usage: anigif frames %s\n", kUsage);
      return 2;
    }
  }

  const std::unique_ptr<HeadlessControl> headless = HeadlessControl::ForFile(path);
  if (!headless) return 1;
  platform::TestHost& host = headless->Host();
  ucAniGIF& control = headless->Control();
  host.SetBackground(background);
  if (!headless->Load(path, /*decodeAll=*/true)) return 1;
  // A canvas past the raster bound gets no surface of its size; a smaller one would crop.
  if (host.WidthPx() != headless->WidthPx() || host.HeightPx() != headless->HeightPx()) {
    return Fail(path, "frames of " + std::to_string(headless->WidthPx()) + " x " +
                          std::to_string(headless->HeightPx()) + " pixels are too large to draw");
  }
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);

  FrameWriter writer(format == "png" ? ImageFormat::kPng : ImageFormat::kPpm);
  const int frameCount = control.FrameCount();
  for (int k = 1; k <= frameCount; ++k) {
    const SurfaceCounts before = CountsOf(host);
    control.SetAction(k == 1 ? 0 : 3);  // stop rewinds to frame 1, step shows the next one
    if (control.CurrentFrame() != k) {
      return Fail(path, "frame " + std::to_string(k) + " could not be shown");
    }
    const std::string out = FramePath(dir, k, format);
    if (!writer.Write(out, host.SurfaceBitmap(), ChangedSince(before, host))) {
      return Fail(out, "cannot write");
    }
  }
  return 0;
}

const CommandRegistrar kRegistrar("frames", kUsage, RunFrames);

}  // namespace
}  // namespace velmora::anigif
