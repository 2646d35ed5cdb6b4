// The headless control the anigif subcommands share, their failure message, and file helpers.

#include "tools/anigif/headless.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "gif/gif_parser.h"
#include "platform/files.h"

namespace velmora::anigif {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct CanvasSize {
  int width = 0;
  int height = 0;
};

// The frames' extent from (0, 0), or nullopt after a message.
std::optional<CanvasSize> ProbeCanvas(const std::string& path) {
  const platform::FileReadResult file = platform::ReadWholeFile(path);
  if (!file.Ok()) {
    Fail(path, "cannot read the file");
    return std::nullopt;
  }
  gif::ParsedGif doc;
  if (gif::ParseGif(file.bytes, doc) == 0) {
    Fail(path, "not a GIF with a usable frame");
    return std::nullopt;
  }
  if (doc.Header.CanvasWidth < 1 || doc.Header.CanvasHeight < 1) {
    Fail(path, "the frames cover no pixels");
    return std::nullopt;
  }
  return CanvasSize{doc.Header.CanvasWidth, doc.Header.CanvasHeight};
}

}  // namespace

int Fail(const std::string& subject, const std::string& message) {
  std::fprintf(stderr, "anigif: %s: %s\n", subject.c_str(), message.c_str());
  return 1;
}

HeadlessControl::HeadlessControl(int widthPx, int heightPx)
    : widthPx_(widthPx),
      heightPx_(heightPx),
      host_(widthPx, heightPx, /*userMode=*/true),
      control_(std::make_unique<ucAniGIF>(host_)) {
  host_.Attach(*control_);
}

HeadlessControl::~HeadlessControl() {
  host_.Detach();
  control_.reset();
}

std::unique_ptr<HeadlessControl> HeadlessControl::ForFile(const std::string& path,
                                                          Surface surface) {
  if (surface == Surface::kUnread) {
    // The control's own load reads and parses the file once; a probe would do it twice.
    auto headless = std::make_unique<HeadlessControl>(1, 1);
    headless->host_.SetPaintsControl(false);
    headless->control_->SetStretch(0);
    headless->loadChecksCanvas_ = true;
    return headless;
  }
  // The file and its parse are let go before the surface is made.
  const std::optional<CanvasSize> canvas = ProbeCanvas(path);
  if (!canvas) return nullptr;
  return std::make_unique<HeadlessControl>(canvas->width, canvas->height);
}

bool HeadlessControl::Load(const std::string& path, bool decodeAll) {
  if (!control_->LoadAnimatedGIF_File(path)) {
    // Without a probe before the load, the probe says why now (the file, or what it holds).
    if (!loadChecksCanvas_ || ProbeCanvas(path)) Fail(path, "the control could not load the file");
    return false;
  }
  if (decodeAll && !FinishDeferredDecoding()) {
    Fail(path, "the control could not load the file");
    return false;
  }
  const GifHeader& header = control_->Document().Header;
  if (loadChecksCanvas_ && (header.CanvasWidth < 1 || header.CanvasHeight < 1)) {
    Fail(path, "the frames cover no pixels");
    return false;
  }
  return true;
}

bool HeadlessControl::FinishDeferredDecoding(std::uint64_t limitMs) {
  platform::ManualClock& clock = host_.Clock();
  const std::uint64_t limit = clock.Now() + limitMs;
  while (control_->DeferredDecodePending()) {
    const std::uint64_t due = clock.NextDue();
    if (due > limit) return false;
    clock.AdvanceTo(due);
  }
  return true;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  return std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

std::string FramePath(const std::string& dir, int frameNumber, const std::string& extension) {
  char name[32];
  std::snprintf(name, sizeof name, "frame-%04d.%s", frameNumber, extension.c_str());
  return (std::filesystem::path(dir) / name).string();
}

}  // namespace velmora::anigif
