#pragma once
// The entry points shared by the fuzz targets (fuzz/fuzz_*.cpp, built with libFuzzer) and by the
// regression test that re-runs the fuzz corpus with the normal compiler
// (tests/robustness/corpus_regression_test.cpp). Each takes arbitrary bytes, drives the core the
// way a host would, and returns false only when it caught the core breaking a promise it can see
// from outside (a guard byte overwritten, a pixel count past the image, a round trip that does not
// hold). Crashes, leaks and undefined behaviour are the sanitizers' to report.
//
// Errors the control documents as reaching its host (RuntimeError from a paint with an offset
// near the 32-bit limit, from a property bag value of the wrong type, ...) are caught here; any
// other exception escapes and fails the run.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "gif/gif_lzw.h"
#include "platform/errors.h"
#include "platform/picture.h"
#include "platform/property_bag.h"
#include "platform/test_host.h"
#include "gif/gif_parser.h"
#include "gif/gif_writer.h"
#include "ucAniGIF/control/ucAniGIF.h"

namespace velmora::fuzzing {

// How many animation ticks one input may run: enough to paint every frame of the corpus files
// (and a wrap-around) while a 30000-frame input still finishes in bounded time.
inline constexpr int kMaxTicks = 300;
// Each tick paints the whole canvas (or frame) resampled onto the host, so a tall canvas shrunk
// onto a small host costs its full area every tick (a 512 x 16386 canvas takes 70 ms a paint in
// a release build). The ticks of one input are held to about this many source pixels; at least
// one tick runs (the deferred decoding, or the first animation step).
inline constexpr std::int64_t kPaintBudgetPixels = std::int64_t{2} << 20;
inline constexpr int kMinTicks = 1;

// Options taken from the first bytes of a load input; the GIF follows them.
//   byte 0: Stretch = b % 5, Mirrored before the load = (b / 5) % 4, DelayAnimation = (b / 20) % 4
//   byte 1: bit 0 design mode, bit 1 SolidBkgColorUsed, bit 2 a system colour as background,
//           bits 3-4 Mirrored set after the load, bits 5-7 the host surface size
//   byte 2, 3: OffsetX, OffsetY as signed bytes; -128 stands for an offset near the 32-bit limit
inline constexpr std::size_t kLoadOptionBytes = 4;

struct LoadOptions {
  std::int32_t stretch = 1;
  std::int32_t mirroredBefore = 0;
  std::int32_t mirroredAfter = 0;
  std::int32_t delayAnimation = 1;
  bool designMode = false;
  bool backgroundUsed = false;
  std::uint32_t background = 0;
  std::int32_t offsetX = 0;
  std::int32_t offsetY = 0;
  int surfaceWidth = 16;
  int surfaceHeight = 16;
};

inline std::int32_t OffsetFromByte(std::uint8_t b) {
  const auto value = static_cast<std::int8_t>(b);
  return value == -128 ? 0x7FFFFFF0 : value;
}

inline LoadOptions DecodeLoadOptions(std::span<const std::uint8_t> head) {
  LoadOptions o;
  if (head.size() < kLoadOptionBytes) return o;
  static constexpr int kSides[8][2] = {{16, 16}, {1, 1},  {7, 3},   {64, 48},
                                       {3, 40},  {33, 1}, {100, 9}, {128, 128}};
  o.stretch = head[0] % 5;
  o.mirroredBefore = (head[0] / 5) % 4;
  o.delayAnimation = (head[0] / 20) % 4;
  o.designMode = (head[1] & 0x01) != 0;
  o.backgroundUsed = (head[1] & 0x02) != 0;
  o.background = (head[1] & 0x04) != 0 ? 0x80000000u | head[2] : 0x00336699u;
  o.mirroredAfter = (head[1] >> 3) & 0x03;
  o.surfaceWidth = kSides[head[1] >> 5][0];
  o.surfaceHeight = kSides[head[1] >> 5][1];
  o.offsetX = OffsetFromByte(head[2]);
  o.offsetY = OffsetFromByte(head[3]);
  return o;
}

// Runs `step`, absorbing the run-time errors a host may legitimately receive from the control.
template <typename Step>
void Tolerating(Step&& step) {
  try {
    step();
  } catch (const platform::RuntimeError&) {
  }
}

// Encodes the current frame the way the control's picture export does, from the strip in place,
// checks that the file it writes decodes again, and that the control's own export (AnimatedGIF)
// gives a picture made of exactly those bytes. False when the export broke a promise.
inline bool EncodeCurrentFrame(ucAniGIF& control) {
  const GifDocument& doc = control.Document();
  const std::int32_t current = control.CurrentFrame();
  if (current < 1 || current > doc.FrameCount() || !doc.FrameStrip.Bitmap) return true;
  const GifFrame& frame = doc.Frame(current);
  const platform::Bitmap& strip = *doc.FrameStrip.Bitmap;
  if (frame.ColorTable < 0 ||
      static_cast<std::size_t>(frame.ColorTable) >= doc.Tables.ColorTables.size()) {
    return true;
  }
  const ColorTable& table = doc.Tables.ColorTables[static_cast<std::size_t>(frame.ColorTable)];
  gif::EncoderInput input;
  input.width = frame.Width;
  input.height = frame.Height;
  input.colors = std::span<const std::uint32_t>(table.data(), 256);
  input.colorCount =
      static_cast<std::int32_t>(std::min<std::uint32_t>(table[kColorCountEntry], 256));
  input.transparent = frame.Transparent != 0;
  input.transparentIndex = frame.TransparentIndex;
  input.strip.bits = std::span<const std::uint8_t>(strip.Bits(), strip.SizeBytes());
  input.strip.width = strip.Width();
  input.strip.height = strip.Height();
  input.strip.rowBytes = strip.Stride();
  input.stripX = frame.StripX;
  const std::optional<std::vector<std::uint8_t>> bytes = gif::EncodeFrameBytes(input);
  const bool bandInStrip = frame.Width > 0 && frame.Height > 0 && frame.StripX >= 0 &&
                           std::int64_t{frame.StripX} + frame.Width <= strip.Width() &&
                           frame.Height <= strip.Height();
  if (!bytes) return !bandInStrip;  // a band that fits must encode
  if (bytes->size() < 6 || std::memcmp(bytes->data(), "GIF89a", 6) != 0) return false;
  // Small enough for every picture decoder bound: the file written must read back.
  if (std::int64_t{frame.Width} * frame.Height <= (std::int64_t{1} << 20)) {
    const platform::PictureRef picture = platform::PictureFromBytes(*bytes);
    if (!picture || picture->Width() != frame.Width || picture->Height() != frame.Height) {
      return false;
    }
    const platform::PictureRef exported = control.AnimatedGIF();
    if (!exported || exported->SourceBytes() != *bytes) return false;
  }
  return true;
}

// Source pixels one paint of the control resamples, roughly: the canvas extent (every frame lies
// inside it) plus a per-row cost, plus the host surface.
inline std::int64_t PaintCost(const platform::TestHost& host, const ucAniGIF& control) {
  const GifHeader& header = control.Document().Header;
  // Resampling also pays per source row (a 2 x 38658 canvas costs as much as 64 columns more).
  constexpr std::int64_t kRowCost = 64;
  return (std::int64_t{std::max(header.CanvasWidth, 1)} + kRowCost) *
             std::max(std::abs(header.CanvasHeight), 1) +
         std::int64_t{host.WidthPx()} * host.HeightPx();
}

// A GIF whose canvas makes one paint cost more than this many source pixels (a 65282 x 1275
// canvas takes 0.45 s a paint in a release build, many seconds instrumented) is loaded in design
// mode and not painted: the fuzzers would spend their time resampling instead of exploring.
// tests/robustness/hostile_sizes_test.cpp paints such files, once each.
inline constexpr std::int64_t kUnpaintedAbovePixels = std::int64_t{8} << 20;

// What the parser alone (no bitmap made) says a GIF will cost: one paint's source pixels (the
// canvas extent plus a per-row cost), and the pixels of the whole frame strip.
struct ParsedCost {
  std::int64_t paint = 0;
  std::int64_t strip = 0;
};

inline ParsedCost ParsedCostOf(std::span<const std::uint8_t> gif) {
  gif::ParsedGif doc;
  if (gif::ParseGif(gif, doc) == 0) return {};
  constexpr std::int64_t kRowCost = 64;
  ParsedCost cost;
  cost.paint = (std::int64_t{doc.Header.CanvasWidth} + kRowCost) * doc.Header.CanvasHeight;
  std::int64_t stripWidth = 0;
  std::int64_t stripHeight = 0;
  for (const GifFrame& f : doc.Frames) {
    stripWidth += f.Width;
    stripHeight = std::max<std::int64_t>(stripHeight, f.Height);
  }
  cost.strip = stripWidth * stripHeight;
  return cost;
}

// Under libFuzzer (coverage and sanitizers make every pixel some 30 times dearer) a GIF whose
// strip and canvas together pass this many pixels is only parsed: zero-filling, mirroring and
// encoding hundreds of megapixels would take the fuzzer's time without reaching new code. The
// regression test and tests/robustness/hostile_sizes_test.cpp load such files in full.
inline constexpr std::int64_t kFuzzWorkLimitPixels = std::int64_t{8} << 20;

inline bool TooBigToFuzz(const ParsedCost& cost) {
  return cost.paint + cost.strip > kFuzzWorkLimitPixels;
}

// Advances the clock through up to kMaxTicks timer firings (fewer for a big canvas): the deferred
// decoding and then the animation, each tick painting the new frame on the host.
inline void RunAnimation(platform::TestHost& host, const ucAniGIF& control) {
  // Every frame once and the wrap back to frame 1 (after the deferred decoding tick) is enough.
  const std::int64_t wanted = std::int64_t{control.FrameCount()} + 2;
  const auto ticks = static_cast<int>(std::clamp<std::int64_t>(
      std::min(wanted, kPaintBudgetPixels / PaintCost(host, control)), kMinTicks, kMaxTicks));
  for (int i = 0; i < ticks; ++i) {
    const std::uint64_t due = host.Clock().NextDue();
    if (due == UINT64_MAX) return;
    Tolerating([&] { host.Clock().AdvanceTo(due); });
  }
}

// Loads `gif` into a fresh control on a headless host with `options`, paints every frame
// reachable within the tick budget (canvas or direct mode, as the GIF decides), re-mirrors,
// paints again, and encodes the current frame.
inline bool LoadPaintEncode(std::span<const std::uint8_t> gif, const LoadOptions& options) {
  const bool paint = ParsedCostOf(gif).paint <= kUnpaintedAbovePixels;
  platform::TestHost host(options.surfaceWidth, options.surfaceHeight,
                          paint && !options.designMode);
  bool ok = true;
  {
    ucAniGIF control(host);
    host.Attach(control);
    host.SetBackground(0x00102030u);
    Tolerating([&] {
      control.SetDelayAnimation(options.delayAnimation);
      control.SetStretch(options.stretch);
      control.SetMirrored(options.mirroredBefore);
      control.SetOffsetX(options.offsetX);
      control.SetOffsetY(options.offsetY);
      control.SetSolidBkgColor(options.background);
      control.SetSolidBkgColorUsed(options.backgroundUsed);
      control.SetMinFrameDelay(0);
    });
    bool loaded = false;
    Tolerating([&] { loaded = control.LoadAnimatedGIF_Array(ByteArrayArg::FromSpan(gif)); });
    if (loaded != (control.FrameCount() > 0)) ok = false;
    if (loaded && paint) {
      Tolerating([&] { host.Refresh(); });
      RunAnimation(host, control);
      // The second round (re-mirror, another stretch mode, more ticks) only when painting is
      // cheap: it repaints several times over.
      if (PaintCost(host, control) <= kPaintBudgetPixels) {
        Tolerating([&] { control.SetMirrored(options.mirroredAfter); });
        Tolerating([&] { control.SetStretch((options.stretch + 1) % 5); });
        Tolerating([&] { host.Refresh(); });
        RunAnimation(host, control);
      }
    }
    if (loaded) {
      ok = EncodeCurrentFrame(control) && ok;
      // At design time the exported picture can be assigned back: it is a one-frame GIF.
      const platform::PictureRef picture = control.AnimatedGIF();
      if (picture && !host.UserMode()) {
        Tolerating([&] { control.SetAnimatedGIF(picture); });
        if (control.FrameCount() != 1) ok = false;
      }
    }
    host.Detach();
  }
  return ok;
}

// Fuzz target 1: options bytes, then a GIF. `underFuzzer` only parses GIFs TooBigToFuzz.
inline bool RunLoadInput(std::span<const std::uint8_t> data, bool underFuzzer = false) {
  const LoadOptions options = DecodeLoadOptions(data);
  const std::size_t skip = std::min(data.size(), kLoadOptionBytes);
  const std::span<const std::uint8_t> gif = data.subspan(skip);
  if (underFuzzer && TooBigToFuzz(ParsedCostOf(gif))) return true;
  return LoadPaintEncode(gif, options);
}

// Fuzz target 2: the LZW decoder alone. Header (6 bytes):
//   byte 0: minimum code size = b & 15 (0 and 12..15 are invalid and must write nothing)
//   byte 1: bit 0 interlaced, bit 1 bottom-up rows (negative stride)
//   byte 2-3, 4-5: width and height - 1, little-endian, taken modulo 256
// then the image data as sub-blocks. The rows sit in a buffer with guard bytes before, after and
// between them (the stride is wider than a row); every guard byte must survive.
inline constexpr std::size_t kLzwHeaderBytes = 6;
inline constexpr std::uint8_t kGuard = 0xA5;
inline constexpr int kGuardBytes = 64;

inline bool RunLzwInput(std::span<const std::uint8_t> data) {
  if (data.size() < kLzwHeaderBytes) return true;
  const int minCodeSize = data[0] & 15;
  const bool interlaced = (data[1] & 1) != 0;
  const bool bottomUp = (data[1] & 2) != 0;
  const int width = 1 + ((data[2] | (data[3] << 8)) % 256);
  const int height = 1 + ((data[4] | (data[5] << 8)) % 256);
  const std::span<const std::uint8_t> blocks = data.subspan(kLzwHeaderBytes);

  const std::ptrdiff_t stride = width + 3;
  const std::size_t total = static_cast<std::size_t>(stride) * height + 2 * kGuardBytes;
  std::vector<std::uint8_t> buffer(total, kGuard);
  std::uint8_t* first = buffer.data() + kGuardBytes;
  gif::IndexRows rows;
  rows.width = width;
  rows.height = height;
  rows.rowStride = bottomUp ? -stride : stride;
  rows.topRow = bottomUp ? first + stride * (height - 1) : first;
  // Fill the rows with a value no guard has, so written and unwritten pixels both stay visible.
  for (int y = 0; y < height; ++y) std::memset(first + stride * y, 0x5A, width);

  const gif::LzwResult result =
      gif::DecodeGifImageData(blocks, minCodeSize, interlaced, rows);
  bool ok = result.pixels >= 0 && result.pixels <= std::int64_t{width} * height;
  if (result.status == gif::LzwStatus::kComplete &&
      result.pixels != std::int64_t{width} * height) {
    ok = false;
  }
  if ((minCodeSize < 1 || minCodeSize > 11) && result.pixels != 0) ok = false;
  for (std::size_t i = 0; i < total; ++i) {
    const std::size_t inRows = i - kGuardBytes;
    const bool guard = i < kGuardBytes || i >= total - kGuardBytes ||
                       static_cast<std::ptrdiff_t>(inRows % stride) >= width;
    if (guard && buffer[i] != kGuard) return false;
  }

  // The raw-stream decoder on the same bytes, into an exactly sized buffer with a guard after it.
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  std::vector<std::uint8_t> out(pixels + kGuardBytes, kGuard);
  const gif::LzwResult raw =
      gif::DecodeLzwStream(blocks, minCodeSize, std::span<std::uint8_t>(out.data(), pixels));
  if (raw.pixels < 0 || raw.pixels > static_cast<std::int64_t>(pixels)) ok = false;
  for (std::size_t i = pixels; i < out.size(); ++i) {
    if (out[i] != kGuard) return false;
  }

  // The interlaced row order is a permutation of 0..height-1.
  if (interlaced) {
    std::vector<std::uint8_t> seen(static_cast<std::size_t>(height), 0);
    for (int k = 0; k < height; ++k) {
      const int row = gif::InterlacedRow(k, height);
      if (row < 0 || row >= height || seen[static_cast<std::size_t>(row)]++ != 0) return false;
    }
  }
  return ok;
}

// Fuzz target 3: a serialised property bag (`underFuzzer`: a GIF TooBigToFuzz is not loaded).
// A bag that parses must serialise to bytes that parse again to the same serialisation; the
// control then restores itself from it (a 32 x 32 host in run mode, or design mode for a huge
// canvas), animates, saves itself, and the saved bag must round-trip too.
inline bool BagRoundTrips(const platform::PropertyBag& bag) {
  const std::vector<std::uint8_t> once = bag.Contents();
  const std::optional<platform::PropertyBag> again = platform::PropertyBag::FromContents(once);
  return again && again->Contents() == once;
}

inline bool RunBagInput(std::span<const std::uint8_t> data, bool underFuzzer = false) {
  std::optional<platform::PropertyBag> bag = platform::PropertyBag::FromContents(data);
  if (!bag) return true;
  bool ok = BagRoundTrips(*bag);
  ParsedCost cost;
  Tolerating([&] {
    const platform::ByteArray gif =
        platform::ToByteArray(bag->ReadProperty("GIF", std::monostate{}));
    cost = ParsedCostOf(gif.bytes);
  });
  if (underFuzzer && TooBigToFuzz(cost)) return ok;
  const bool paint = cost.paint <= kUnpaintedAbovePixels;
  platform::TestHost host(32, 32, paint);
  {
    ucAniGIF control(host);
    host.Attach(control);
    Tolerating([&] { control.ReadProperties(*bag); });
    if (paint) {
      Tolerating([&] { host.Refresh(); });
      RunAnimation(host, control);
    }
    ok = EncodeCurrentFrame(control) && ok;
    platform::PropertyBag saved;
    Tolerating([&] { control.WriteProperties(saved); });
    ok = BagRoundTrips(saved) && ok;
    host.Detach();
  }
  return ok;
}

}  // namespace velmora::fuzzing
