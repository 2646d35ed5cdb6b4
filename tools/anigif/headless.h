#pragma once
// A ucAniGIF on a headless TestHost, as the anigif subcommands drive it: run mode, the host's
// manual clock, a surface of the GIF's canvas size; plus the image writers the tool uses.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/test_host.h"
#include "ucAniGIF/control/ucAniGIF.h"

namespace velmora::anigif {

// The canvas (the frames' extent from (0, 0)) the block parser finds in a GIF file, or nullopt
// with a message in `error` when the file cannot be read or has no usable frame.
struct CanvasSize {
  int width = 0;
  int height = 0;
};
std::optional<CanvasSize> ProbeCanvas(const std::string& path, std::string& error);

// A control attached to its own TestHost. The host outlives the control (members are destroyed
// in reverse order) and is detached first, so no notification reaches a destroyed control.
class HeadlessControl {
 public:
  HeadlessControl(int widthPx, int heightPx);
  ~HeadlessControl();
  HeadlessControl(const HeadlessControl&) = delete;
  HeadlessControl& operator=(const HeadlessControl&) = delete;

  platform::TestHost& Host() { return host_; }
  ucAniGIF& Control() { return *control_; }
  // Runs the clock until the deferred decoding has built frames 2..n (at most `limitMs` on).
  // True when no decoding is pending any more.
  bool FinishDeferredDecoding(std::uint64_t limitMs = 1000);

 private:
  platform::TestHost host_;
  std::unique_ptr<ucAniGIF> control_;
};

// Writes a top-down 0x00RRGGBB image as 8-bit RGB PNG or binary PPM (P6). False on any failure.
bool WritePng(const std::string& path, int width, int height, const std::vector<std::uint32_t>& rgb);
bool WritePpm(const std::string& path, int width, int height, const std::vector<std::uint32_t>& rgb);

// "frame-0001" style names.
std::string FrameFileName(int frameNumber, const std::string& extension);

}  // namespace velmora::anigif
