// anigif encode FILE N OUT
//
// The single-frame GIF the control's encoder writes for frame N (1-based), as the AnimatedGIF
// property hands it out: the picture's source bytes go to OUT unchanged. The file is loaded in
// run mode and the deferred pass decodes frames 2..n first; then the stop command shows frame 1
// and the step command each following frame until frame N is current, so the property encodes
// exactly that frame's band.

#include <charconv>
#include <cstdio>
#include <memory>
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

int RunEncode(const std::vector<std::string>& args) {
  if (args.size() != 3) {
    std::fprintf(stderr, "usage: anigif encode %s\n", kUsage);
    return 2;
  }
  const std::string& path = args[0];
  const std::string& out = args[2];
  int frameNumber = 0;
  if (!ParseFrameNumber(args[1], frameNumber)) return Fail(args[1], "not a frame number");
  // Nothing is drawn: the frames' pixels are never read, only their bands are encoded.
  const std::unique_ptr<HeadlessControl> headless =
      HeadlessControl::ForFile(path, HeadlessControl::Surface::kUnread);
  if (!headless || !headless->Load(path, /*decodeAll=*/true)) return 1;
  ucAniGIF& control = headless->Control();
  const int frameCount = control.FrameCount();
  const std::string frame = "frame " + std::to_string(frameNumber);
  if (frameNumber < 1 || frameNumber > frameCount) {
    return Fail(path, frame + " does not exist (the file has " + std::to_string(frameCount) +
                          (frameCount == 1 ? " frame)" : " frames)"));
  }
  // Stop shows frame 1 with no timer running; each step shows the next frame.
  control.SetAction(0);
  for (int k = 2; k <= frameNumber; ++k) control.SetAction(3);
  if (control.CurrentFrame() != frameNumber) return Fail(path, frame + " could not be shown");
  const platform::PictureRef picture = control.AnimatedGIF();
  if (!picture) return Fail(path, frame + " could not be encoded");
  if (!WriteFile(out, picture->SourceBytes())) return Fail(out, "cannot write");
  return 0;
}

const CommandRegistrar kRegistrar("encode", kUsage, RunEncode);

}  // namespace
}  // namespace velmora::anigif
