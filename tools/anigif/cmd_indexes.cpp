// anigif indexes FILE DIR
//
// Each frame's band of the frame strip as raw colour indices, Width x Height bytes, top row first:
// DIR/frame-0001.indexes, ... Taken after the deferred pass has decoded frames 2..n. The indices
// are those of the frame's own colour table and do not depend on mirroring (the control's default
// is unmirrored).

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tools/anigif/command.h"
#include "tools/anigif/headless.h"

namespace velmora::anigif {
namespace {

constexpr const char* kUsage = "FILE DIR";

// Written row by row: a band can be as large as the raster bound allows.
bool WriteBand(const GifDocument& doc, const GifFrame& frame, const std::string& out) {
  std::ofstream file(out, std::ios::binary);
  if (!file) return false;
  const platform::Bitmap* strip = doc.FrameStrip.Bitmap.get();
  std::vector<char> row(static_cast<std::size_t>(frame.Width), 0);
  for (int y = 0; y < frame.Height; ++y) {
    if (strip != nullptr && y < strip->Height() && frame.StripX + frame.Width <= strip->Width()) {
      const std::uint8_t* bits = strip->Row(y) + frame.StripX;
      row.assign(bits, bits + frame.Width);
    }
    file.write(row.data(), static_cast<std::streamsize>(row.size()));
  }
  return static_cast<bool>(file);
}

int RunIndexes(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: anigif indexes %s\n", kUsage);
    return 2;
  }
  const std::string& path = args[0];
  const std::unique_ptr<HeadlessControl> headless = HeadlessControl::ForFile(path);
  if (!headless || !headless->Load(path, /*decodeAll=*/true)) return 1;
  std::error_code ec;
  std::filesystem::create_directories(args[1], ec);
  const GifDocument& doc = headless->Control().Document();
  for (int k = 1; k <= doc.FrameCount(); ++k) {
    const std::string out = FramePath(args[1], k, "indexes");
    if (!WriteBand(doc, doc.Frame(k), out)) return Fail(out, "cannot write");
  }
  return 0;
}

const CommandRegistrar kRegistrar("indexes", kUsage, RunIndexes);

}  // namespace
}  // namespace velmora::anigif
