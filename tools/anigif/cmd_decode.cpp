// anigif decode FILE...
//
// Loads every file completely (DelayAnimation 0, run mode: all frames are decoded during the
// load) and prints, per file, "<FILE>: <frames> frames, <pixels> pixels" (pixels: the sum of the
// frames' Width x Height), then "total: <frames> frames, <pixels> pixels". Used for timing. A file
// that cannot be loaded is reported on stderr, the others still run, and the exit status is 1.

#include <cstdio>
#include <string>
#include <vector>

#include "tools/anigif/command.h"
#include "tools/anigif/headless.h"

namespace velmora::anigif {
namespace {

constexpr const char* kUsage = "FILE...";

// A surface of the canvas size is not needed for decoding; one pixel keeps the host cheap. The
// control is made Stretch 0 so that the load never resizes the host, and is not painted: nothing
// reads the surface.
constexpr int kDecodeSurfaceSide = 1;

int RunDecode(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::fprintf(stderr, "usage: anigif decode %s\n", kUsage);
    return 2;
  }
  int status = 0;
  long long totalFrames = 0;
  long long totalPixels = 0;
  HeadlessControl headless(kDecodeSurfaceSide, kDecodeSurfaceSide);
  headless.Host().SetPaintsControl(false);
  ucAniGIF& control = headless.Control();
  control.SetDelayAnimation(0);
  control.SetStretch(0);
  for (const std::string& path : args) {
    if (!headless.Load(path, /*decodeAll=*/false)) {
      status = 1;
      continue;
    }
    long long pixels = 0;
    for (const GifFrame& frame : control.Document().Frames) {
      pixels += static_cast<long long>(frame.Width) * frame.Height;
    }
    const int frames = control.FrameCount();
    std::printf("%s: %d frames, %lld pixels\n", path.c_str(), frames, pixels);
    totalFrames += frames;
    totalPixels += pixels;
  }
  std::printf("total: %lld frames, %lld pixels\n", totalFrames, totalPixels);
  return status;
}

const CommandRegistrar kRegistrar("decode", kUsage, RunDecode);

}  // namespace
}  // namespace velmora::anigif
