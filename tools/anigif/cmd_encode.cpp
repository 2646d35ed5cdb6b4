// anigif encode FILE N OUT
//
// The single-frame GIF the control's encoder writes for frame N (1-based), as the AnimatedGIF
// property hands it out: the picture's source bytes go to OUT unchanged. The file is loaded in
// run mode and the deferred pass decodes frames 2..n first; then the stop command shows frame 1
// and the step command each following frame until frame N is current, so the property encodes
// exactly that frame's band.

#include <charconv>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tools/anigif/command.h"
#include "tools/anigif/headless.h"

namespace velmora::anigif {
namespace {

constexpr const char* kUsage = "FILE N OUT";

// A whole decimal number, nothing else around it.
bool ParseFrameNumber(const std::string& text, int& number) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, number);
  return ec == std::errc() && ptr == end && !text.empty();
}

bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

int RunEncode(const std::vector<std::string>& args) {
  if (args.size() != 3) {
    std::fprintf(stderr, "usage: anigif encode %s\n", kUsage);
    return 2;
  }
  const std::string& path = args[0];
  const std::string& out = args[2];
  int frameNumber = 0;
  if (!ParseFrameNumber(args[1], frameNumber)) {
    std::fprintf(stderr, "anigif: %s: not a frame number\n", args[1].c_str());
    return 1;
  }
  std::string error;
  const std::optional<CanvasSize> canvas = ProbeCanvas(path, error);
  if (!canvas) {
    std::fprintf(stderr, "anigif: %s: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  HeadlessControl headless(canvas->width, canvas->height);
  ucAniGIF& control = headless.Control();
  if (!control.LoadAnimatedGIF_File(path) || !headless.FinishDeferredDecoding()) {
    std::fprintf(stderr, "anigif: %s: the control could not load the file\n", path.c_str());
    return 1;
  }
  const int frameCount = control.FrameCount();
  if (frameNumber < 1 || frameNumber > frameCount) {
    std::fprintf(stderr, "anigif: %s: frame %d does not exist (the file has %d frame%s)\n",
                 path.c_str(), frameNumber, frameCount, frameCount == 1 ? "" : "s");
    return 1;
  }
  // Stop shows frame 1 with no timer running; each step shows the next frame.
  control.SetAction(0);
  for (int k = 2; k <= frameNumber; ++k) control.SetAction(3);
  if (control.CurrentFrame() != frameNumber) {
    std::fprintf(stderr, "anigif: %s: frame %d could not be shown\n", path.c_str(), frameNumber);
    return 1;
  }
  const platform::PictureRef picture = control.AnimatedGIF();
  if (!picture) {
    std::fprintf(stderr, "anigif: %s: frame %d could not be encoded\n", path.c_str(), frameNumber);
    return 1;
  }
  if (!WriteBytes(out, picture->SourceBytes())) {
    std::fprintf(stderr, "anigif: %s: cannot write\n", out.c_str());
    return 1;
  }
  return 0;
}

const CommandRegistrar kRegistrar("encode", kUsage, RunEncode);

}  // namespace
}  // namespace velmora::anigif
