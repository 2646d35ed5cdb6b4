// anigif timeline FILE [--until MS] [--min-delay MS] [--stepped-delay MS] [--loops N]
//
// Loads FILE at clock time 0 with the control's defaults, sets the given options through the
// control's setters right after the load returns, then runs the manual clock to --until (default
// 10000) and prints one line per event as it happens:
//   <ms> FrameChanged <FrameIndex> <true|false>      (the second value is viaTimer)
//   <ms> LoopsEnded
// Events the load itself raises (a one-frame GIF's FrameChanged) are printed at time 0.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/anigif/command.h"
#include "tools/anigif/headless.h"

namespace velmora::anigif {
namespace {

constexpr const char* kUsage =
    "FILE [--until MS] [--min-delay MS] [--stepped-delay MS] [--loops N]";
constexpr std::int64_t kDefaultUntilMs = 10000;

bool ParseInteger(const std::string& text, std::int64_t low, std::int64_t high,
                  std::int64_t& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  const long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (end != text.c_str() + text.size() || parsed < low || parsed > high) return false;
  value = parsed;
  return true;
}

struct TimelineOptions {
  std::string path;
  std::int64_t untilMs = kDefaultUntilMs;
  std::optional<std::int64_t> minDelay;
  std::optional<std::int64_t> steppedDelay;
  std::optional<std::int64_t> loops;
};

bool ParseOptions(const std::vector<std::string>& args, TimelineOptions& options) {
  if (args.empty()) return false;
  options.path = args[0];
  constexpr std::int64_t kInt32Min = -2147483648LL;
  constexpr std::int64_t kInt32Max = 2147483647LL;
  for (std::size_t i = 1; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) return false;
    std::int64_t value = 0;
    const std::string& name = args[i];
    if (name == "--until" && ParseInteger(args[i + 1], 0, kInt32Max, value)) {
      options.untilMs = value;
    } else if (name == "--min-delay" && ParseInteger(args[i + 1], kInt32Min, kInt32Max, value)) {
      options.minDelay = value;
    } else if (name == "--stepped-delay" &&
               ParseInteger(args[i + 1], kInt32Min, kInt32Max, value)) {
      options.steppedDelay = value;
    } else if (name == "--loops" && ParseInteger(args[i + 1], kInt32Min + 1, kInt32Max, value)) {
      options.loops = value;
    } else {
      return false;
    }
  }
  return true;
}

int RunTimeline(const std::vector<std::string>& args) {
  TimelineOptions options;
  if (!ParseOptions(args, options)) {
    std::fprintf(stderr, "usage: anigif timeline %s\n", kUsage);
    return 2;
  }
  const std::unique_ptr<HeadlessControl> headless = HeadlessControl::ForFile(options.path);
  if (!headless) return 1;
  platform::TestHost& host = headless->Host();
  ucAniGIF& control = headless->Control();
  host.Recorder().onLine = [&host](std::string_view line) {
    if (!line.starts_with("FrameChanged") && !line.starts_with("LoopsEnded")) return;
    std::printf("%llu %.*s\n", static_cast<unsigned long long>(host.Clock().Now()),
                static_cast<int>(line.size()), line.data());
  };
  if (!headless->Load(options.path, /*decodeAll=*/false)) return 1;
  if (options.minDelay) control.SetMinFrameDelay(static_cast<std::int32_t>(*options.minDelay));
  if (options.steppedDelay) {
    control.SetSteppedDelay(static_cast<std::int32_t>(*options.steppedDelay));
  }
  if (options.loops) control.SetLoops(static_cast<std::int32_t>(*options.loops));
  host.Clock().AdvanceTo(static_cast<std::uint64_t>(options.untilMs));
  std::fflush(stdout);
  return 0;
}

const CommandRegistrar kRegistrar("timeline", kUsage, RunTimeline);

}  // namespace
}  // namespace velmora::anigif
