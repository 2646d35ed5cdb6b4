#pragma once
// Our side of the benchmarks: a ucAniGIF on a headless TestHost in run mode, as the anigif tool
// drives it. The host outlives the control and is detached first, so no notification reaches a
// destroyed control.

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/test_host.h"
#include "ucAniGIF/control/ucAniGIF.h"

namespace velmora::bench {

class BenchControl {
 public:
  BenchControl(int widthPx, int heightPx)
      : host_(widthPx, heightPx, /*userMode=*/true), control_(std::make_unique<ucAniGIF>(host_)) {
    host_.Attach(*control_);
  }
  ~BenchControl() {
    host_.Detach();
    control_.reset();
  }
  BenchControl(const BenchControl&) = delete;
  BenchControl& operator=(const BenchControl&) = delete;

  platform::TestHost& Host() { return host_; }
  ucAniGIF& Control() { return *control_; }

  bool Load(const std::vector<std::uint8_t>& bytes) {
    return control_->LoadAnimatedGIF_Array(ByteArrayArg::FromSpan(bytes));
  }

  // Bytes the control holds for its decoded frames: the strip, the canvas and its mask.
  std::size_t DecodedBytes() const {
    const GifDocument& doc = control_->Document();
    std::size_t bytes = 0;
    if (doc.FrameStrip.Bitmap) bytes += doc.FrameStrip.Bitmap->SizeBytes();
    if (doc.CompositeCanvas.Bitmap) bytes += doc.CompositeCanvas.Bitmap->SizeBytes();
    if (doc.CompositeCanvas.MaskBitmap) bytes += doc.CompositeCanvas.MaskBitmap->SizeBytes();
    return bytes;
  }

 private:
  platform::TestHost host_;
  std::unique_ptr<ucAniGIF> control_;
};

}  // namespace velmora::bench
