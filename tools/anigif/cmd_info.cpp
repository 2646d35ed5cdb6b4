// anigif info FILE: what the block parser stores for a GIF, as JSON.
//
// Output (stable; one frame per line):
//   {
//     "canvasWidth": 30,
//     "canvasHeight": 30,
//     "loopCount": 0,
//     "colorTables": [256, 4],
//     "frames": [
//       {"left": 10, "top": 10, "width": 20, "height": 20, "delay": 100, "disposal": 0,
//        "transparent": 1, "transparentIndex": 3, "colorTable": 1}
//     ]
//   }
// (each frame object is on a single line in the real output). colorTables lists the colour count
// of every table the parser created, table 0 first, including a global table slot that the file
// never filled (count 0) and a table cut off by the end of the data (count 0).

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "gif/gif_parser.h"
#include "platform/files.h"
#include "tools/anigif/command.h"

namespace velmora::anigif {
namespace {

std::string FrameJson(const gif::GifFrame& f) {
  std::ostringstream out;
  out << "{\"left\": " << f.Left << ", \"top\": " << f.Top << ", \"width\": " << f.Width
      << ", \"height\": " << f.Height << ", \"delay\": " << f.Delay
      << ", \"disposal\": " << static_cast<int>(f.Disposal)
      << ", \"transparent\": " << static_cast<int>(f.Transparent)
      << ", \"transparentIndex\": " << static_cast<int>(f.TransparentIndex)
      << ", \"colorTable\": " << f.ColorTable << "}";
  return out.str();
}

std::string DocumentJson(const gif::ParsedGif& doc) {
  std::ostringstream out;
  out << "{\n";
  out << "  \"canvasWidth\": " << doc.Header.CanvasWidth << ",\n";
  out << "  \"canvasHeight\": " << doc.Header.CanvasHeight << ",\n";
  out << "  \"loopCount\": " << doc.Header.LoopCount << ",\n";
  out << "  \"colorTables\": [";
  const auto& tables = doc.Tables.ColorTables;
  for (std::size_t t = 0; t < tables.size(); ++t) {
    out << (t == 0 ? "" : ", ") << tables[t][gif::kColorCountEntry];
  }
  out << "],\n";
  out << "  \"frames\": [\n";
  for (std::size_t i = 0; i < doc.Frames.size(); ++i) {
    out << "    " << FrameJson(doc.Frames[i]) << (i + 1 < doc.Frames.size() ? ",\n" : "\n");
  }
  out << "  ]\n}\n";
  return out.str();
}

int RunInfo(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: anigif info FILE\n");
    return 2;
  }
  const std::string& path = args[0];
  const platform::FileReadResult file = platform::ReadWholeFile(path);
  if (!file.Ok()) {
    std::fprintf(stderr, "anigif: %s: cannot read the file\n", path.c_str());
    return 1;
  }
  gif::ParsedGif doc;
  if (gif::ParseGif(file.bytes, doc) == 0) {
    std::fprintf(stderr, "anigif: %s: no usable frame\n", path.c_str());
    return 1;
  }
  const std::string json = DocumentJson(doc);
  std::fwrite(json.data(), 1, json.size(), stdout);
  return 0;
}

const CommandRegistrar kInfo("info", "FILE", RunInfo);

}  // namespace
}  // namespace velmora::anigif
