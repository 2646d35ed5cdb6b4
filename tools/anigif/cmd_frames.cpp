// anigif frames FILE DIR [--background RRGGBB] [--format png|ppm]
//
// Every frame as the control paints it, in order 1..n, on a host surface of the canvas size
// cleared to the background (default black) before each paint: DIR/frame-0001.png, ...
//
// The control is loaded with its defaults in run mode. With Stretch 1 on a surface exactly the
// canvas size the scale is 1, so the files show the frames pixel for pixel. Frames 2..n are
// decoded by the deferred pass first; then the stop command paints frame 1 and the step command
// each following frame, so a composited animation is built up in order from frame 1.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/anigif/command.h"
#include "tools/anigif/headless.h"

namespace velmora::anigif {
namespace {

constexpr const char* kUsage = "FILE DIR [--background RRGGBB] [--format png|ppm]";

// RRGGBB to the host's 0x00BBGGRR.
bool ParseBackground(const std::string& text, platform::ColorRef& color) {
  if (text.size() != 6) return false;
  char* end = nullptr;
  const unsigned long rgb = std::strtoul(text.c_str(), &end, 16);
  if (end != text.c_str() + text.size()) return false;
  color = platform::ColorRefFromRgbQuad(static_cast<platform::RgbQuad>(rgb));
  return true;
}

std::vector<std::uint32_t> SurfacePixels(const platform::TestHost& host) {
  std::vector<std::uint32_t> pixels;
  pixels.reserve(static_cast<std::size_t>(host.WidthPx()) * host.HeightPx());
  for (int y = 0; y < host.HeightPx(); ++y) {
    for (int x = 0; x < host.WidthPx(); ++x) pixels.push_back(host.Pixel(x, y));
  }
  return pixels;
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

  std::string error;
  const std::optional<CanvasSize> canvas = ProbeCanvas(path, error);
  if (!canvas) {
    std::fprintf(stderr, "anigif: %s: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  HeadlessControl headless(canvas->width, canvas->height);
  platform::TestHost& host = headless.Host();
  ucAniGIF& control = headless.Control();
  host.SetBackground(background);
  if (!control.LoadAnimatedGIF_File(path) || !headless.FinishDeferredDecoding()) {
    std::fprintf(stderr, "anigif: %s: the control could not load the file\n", path.c_str());
    return 1;
  }
  // A canvas past the raster bound gets no surface of its size; a smaller one would crop.
  if (host.WidthPx() != canvas->width || host.HeightPx() != canvas->height) {
    std::fprintf(stderr, "anigif: %s: frames of %d x %d pixels are too large to draw\n",
                 path.c_str(), canvas->width, canvas->height);
    return 1;
  }
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);

  const int frameCount = control.FrameCount();
  for (int k = 1; k <= frameCount; ++k) {
    control.SetAction(k == 1 ? 0 : 3);  // stop rewinds to frame 1, step shows the next one
    if (control.CurrentFrame() != k) {
      std::fprintf(stderr, "anigif: %s: frame %d could not be shown\n", path.c_str(), k);
      return 1;
    }
    const std::string out =
        (std::filesystem::path(dir) / FrameFileName(k, format)).string();
    const std::vector<std::uint32_t> pixels = SurfacePixels(host);
    const bool written = format == "png"
                             ? WritePng(out, host.WidthPx(), host.HeightPx(), pixels)
                             : WritePpm(out, host.WidthPx(), host.HeightPx(), pixels);
    if (!written) {
      std::fprintf(stderr, "anigif: %s: cannot write\n", out.c_str());
      return 1;
    }
  }
  return 0;
}

const CommandRegistrar kRegistrar("frames", kUsage, RunFrames);

}  // namespace
}  // namespace velmora::anigif
