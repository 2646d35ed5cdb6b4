#pragma once
// A ucAniGIF on a headless TestHost, as the anigif subcommands drive it: run mode, the host's
// manual clock, a surface of the GIF's canvas size; plus the file helpers the subcommands share.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/test_host.h"
#include "ucAniGIF/control/ucAniGIF.h"

namespace velmora::anigif {

// Writes "anigif: <subject>: <message>" to stderr and returns 1, the exit status of a failure.
int Fail(const std::string& subject, const std::string& message);

// A control attached to its own TestHost. The host outlives the control (members are destroyed
// in reverse order) and is detached first, so no notification reaches a destroyed control.
class HeadlessControl {
 public:
  HeadlessControl(int widthPx, int heightPx);
  ~HeadlessControl();
  HeadlessControl(const HeadlessControl&) = delete;
  HeadlessControl& operator=(const HeadlessControl&) = delete;

  // What the caller does with the surface: draws the frames on it (kCanvas), or never reads it
  // (kUnread: a 1 x 1 surface the control is not painted on, Stretch 0 so that a load never
  // resizes it; for a caller that only wants the control's data).
  enum class Surface { kCanvas, kUnread };

  // A control on a surface of the GIF file's canvas (the frames' extent from (0, 0), as the block
  // parser finds it), or nullptr after a message when the file cannot be read, has no usable
  // frame or its frames cover no pixels. The file is not loaded yet. For an unread surface the
  // file is not looked at here: Load refuses it for the same reasons.
  static std::unique_ptr<HeadlessControl> ForFile(const std::string& path,
                                                  Surface surface = Surface::kCanvas);

  platform::TestHost& Host() { return host_; }
  ucAniGIF& Control() { return *control_; }
  // The surface size the control was made with. The host's surface is 1 x 1 instead when that
  // size passes the raster bound.
  int WidthPx() const { return widthPx_; }
  int HeightPx() const { return heightPx_; }
  // Loads the file; with `decodeAll`, then runs the clock until the deferred decoding has built
  // frames 2..n. False after a message when either fails.
  bool Load(const std::string& path, bool decodeAll);

 private:
  // True when no decoding is pending any more, at most `limitMs` on.
  bool FinishDeferredDecoding(std::uint64_t limitMs = 1000);

  int widthPx_;
  int heightPx_;
  // Load checks the canvas itself: ForFile did not.
  bool loadChecksCanvas_ = false;
  platform::TestHost host_;
  std::unique_ptr<ucAniGIF> control_;
};

// Replaces the file with `bytes`. False on any failure.
bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

// DIR/frame-0001.EXT, ...: the path of frame `frameNumber`'s file in `dir`.
std::string FramePath(const std::string& dir, int frameNumber, const std::string& extension);

}  // namespace velmora::anigif
