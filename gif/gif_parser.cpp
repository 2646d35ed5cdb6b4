#include "gif/gif_parser.h"

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "gif/gif_format.h"
#include "gif/gif_reader.h"

namespace velmora::gif {
namespace {

constexpr std::int32_t kScreenPackedPos = 11;  // packed field of the logical screen descriptor
constexpr std::int32_t kAfterScreenPos = 14;   // first byte after the logical screen descriptor
constexpr std::int32_t kInitialFrameSpans = 10;
constexpr std::int32_t kFrameSpanGrowth = 5;
constexpr std::uint8_t kDisposeRestorePrevious = 3;

// How a step of the parse ended.
enum class Step {
  kDone,       // the block was read; go on
  kEnd,        // the trailer, a byte that starts no block, or the data ran out: keep what is complete
  kUnusable,   // an image without any colour table: the file gives no frames
};

// Case is ignored only for ASCII letters; no other byte can turn into one of the letters of the
// identifiers compared here.
std::string UpperText(const std::vector<std::uint8_t>& block) {
  std::string text(block.begin(), block.end());
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

class BlockParser {
 public:
  BlockParser(std::span<const std::uint8_t> bytes, ParsedGif& out)
      : out_(out), reader_(bytes, out.ReadPos) {}

  std::int32_t Run();

 private:
  bool ReadScreenDescriptor();
  Step ReadBlocks();
  Step ReadApplicationExtension();
  Step ReadGraphicControlExtension();
  Step ReadImage();

  ParsedGif& out_;
  GifReader reader_;
  std::vector<std::uint8_t> block_;
  std::int32_t frameCount_ = 0;
  bool hasGlobalTable_ = false;
  GifFrame pending_{};
};

std::int32_t BlockParser::Run() {
  out_.ReadPos = 1;
  try {
    out_.FrameSpans.assign(kInitialFrameSpans, FrameSpan{});
    // Data shorter than the signature gives a zero block, which is no signature.
    reader_.ReadBlock(static_cast<std::int32_t>(kSignatureBytes), block_);
    if (!HasGifSignature(block_)) return 0;
    if (ReadScreenDescriptor() && ReadBlocks() == Step::kUnusable) {
      out_.Frames.clear();
      return 0;
    }
  } catch (const std::bad_alloc&) {
    // The tables grow with the file; out of memory ends the parse like the end of the data.
  }
  out_.Frames.resize(static_cast<std::size_t>(frameCount_));
  return frameCount_;
}

// Logical screen descriptor, positions 7..13:
//   7 width (u16)   9 height (u16)   11 packed: global table flag bit 7, table size bits 0-2
//   12 background index   13 pixel aspect ratio
// Only the packed field is used: the canvas comes from the images themselves. False when the
// data ends before the descriptor or the global table is complete.
bool BlockParser::ReadScreenDescriptor() {
  out_.ReadPos = kScreenPackedPos;
  const std::optional<std::uint8_t> packed = reader_.ReadByte();
  if (!packed) return false;
  out_.ReadPos = kAfterScreenPos;
  if ((*packed & kColorTableFlag) == 0) return true;
  out_.Tables.ActiveColorTable = 0;
  if (!reader_.ReadColorTable(out_.Tables.ColorTables, 0, (*packed & kTableSizeMask) + 1)) {
    return false;
  }
  hasGlobalTable_ = true;
  return true;
}

Step BlockParser::ReadBlocks() {
  for (;;) {
    const std::optional<std::uint8_t> introducer = reader_.ReadByte();
    if (!introducer) return Step::kEnd;
    Step step = Step::kDone;
    if (*introducer == kBlockTerminator) continue;  // stray zero bytes between blocks
    if (*introducer == kImageSeparator) {
      step = ReadImage();
    } else if (*introducer != kExtensionIntroducer) {
      return Step::kEnd;
    } else {
      const std::optional<std::uint8_t> label = reader_.ReadByte();
      if (!label) return Step::kEnd;
      if (*label == kApplicationLabel) {
        step = ReadApplicationExtension();
      } else if (*label == kGraphicControlLabel) {
        step = ReadGraphicControlExtension();
      } else {
        // Plain text, comment and unknown extensions: contents are not kept.
        reader_.SkipSubBlocks();
      }
    }
    if (step != Step::kDone) return step;
  }
}

// Application extension, after 0x21 0xFF:
//   +0 block size n (11)   +1 identifier and authentication code (n bytes)
//   then sub-blocks; for "NETSCAPE2.0" the first is: size 3, index 1, loop count (u16), and 0.
// An identifier longer than the remaining data leaves a zero block (no match) and an unmoved
// ReadPos, so the sub-block skip starts at the identifier itself.
Step BlockParser::ReadApplicationExtension() {
  const std::optional<std::uint8_t> size = reader_.ReadByte();
  if (!size) return Step::kEnd;
  reader_.ReadBlock(*size, block_);
  if (UpperText(block_) == "NETSCAPE2.0") {
    const std::optional<std::uint8_t> subBlockSize = reader_.ReadByte();
    if (!subBlockSize) return Step::kEnd;
    if (*subBlockSize == 3) {
      out_.ReadPos += 1;  // the sub-block index, whatever its value
      const std::optional<std::uint16_t> loops = reader_.ReadWord();
      if (!loops) return Step::kEnd;
      out_.Header.LoopCount = *loops;
    } else {
      // Not the loop sub-block: leave it to the skip below.
      out_.ReadPos -= 1;
    }
  }
  reader_.SkipSubBlocks();
  return Step::kDone;
}

// Graphic control extension, after the 0x21 0xF9 introducer:
//   +0 block size (4, not checked)   +1 packed: disposal bits 2-4, transparency bit 0
//   +2 delay, hundredths of a second (u16)   +4 transparent index   +5 terminator
// A later extension before the same image replaces an earlier one completely.
Step BlockParser::ReadGraphicControlExtension() {
  pending_ = GifFrame{};
  pending_.StripX = out_.ReadPos - 2;
  if (!reader_.ReadByte()) return Step::kEnd;
  const std::optional<std::uint8_t> packed = reader_.ReadByte();
  if (!packed) return Step::kEnd;
  std::uint8_t disposal = (*packed >> 2) & 7;
  // "Restore to previous" has nothing to restore before the first frame; values 4..7 are
  // undefined. Both are read as "unspecified".
  if (disposal == kDisposeRestorePrevious && frameCount_ == 0) disposal = 0;
  if (disposal > kDisposeRestorePrevious) disposal = 0;
  pending_.Disposal = disposal;
  const std::optional<std::uint16_t> delay = reader_.ReadWord();
  if (!delay) return Step::kEnd;
  pending_.Delay = static_cast<std::int32_t>(*delay) * 10;
  pending_.Transparent = *packed & 1;
  if (pending_.Transparent == 1) {
    const std::optional<std::uint8_t> index = reader_.ReadByte();
    if (!index) return Step::kEnd;
    pending_.TransparentIndex = *index;
  } else {
    // The stored index is ignored, not read: TransparentIndex stays 0. The skip starts where the
    // terminator belongs, even if the data ends before it.
    out_.ReadPos = pending_.StripX + 7;
  }
  reader_.SkipSubBlocks();
  return Step::kDone;
}

// Image descriptor, after the 0x2C separator:
//   +0 left (u16)   +2 top (u16)   +4 width (u16)   +6 height (u16)
//   +8 packed: local table flag bit 7, interlace bit 6, sort bit 5, table size bits 0-2
//   then the local colour table if flagged, the LZW minimum code size, and data sub-blocks.
Step BlockParser::ReadImage() {
  const std::int32_t k = frameCount_ + 1;
  if (k > kMaxFrameCount) return Step::kEnd;
  FrameSpan& span = out_.FrameSpans[static_cast<std::size_t>(k - 1)];
  span.Start = out_.ReadPos - 1;
  if (pending_.StripX == 0) pending_.StripX = span.Start;

  const std::optional<std::uint16_t> left = reader_.ReadWord();
  const std::optional<std::uint16_t> top = left ? reader_.ReadWord() : std::nullopt;
  const std::optional<std::uint16_t> width = top ? reader_.ReadWord() : std::nullopt;
  const std::optional<std::uint16_t> height = width ? reader_.ReadWord() : std::nullopt;
  const std::optional<std::uint8_t> packed = height ? reader_.ReadByte() : std::nullopt;
  if (!packed) return Step::kEnd;
  pending_.Left = *left;
  pending_.Top = *top;
  pending_.Width = *width;
  pending_.Height = *height;

  if ((*packed & kColorTableFlag) != 0) {
    const std::int32_t table = out_.Tables.ActiveColorTable + 1;
    pending_.ColorTable = table;
    if (!reader_.ReadColorTable(out_.Tables.ColorTables, table, (*packed & kTableSizeMask) + 1)) {
      return Step::kEnd;
    }
    out_.Tables.ActiveColorTable = table;
  } else if (!hasGlobalTable_) {
    return Step::kUnusable;
  }

  if (!reader_.ReadByte()) return Step::kEnd;  // LZW minimum code size: the decoder's business
  // A truncated final image is kept: the skip stops at the end of the data and the span then
  // reaches past it. The frame builder never reads beyond the data.
  reader_.SkipSubBlocks();

  frameCount_ = k;
  span.Length = out_.ReadPos - span.Start;
  out_.Frames.resize(static_cast<std::size_t>(k));
  if (k == static_cast<std::int32_t>(out_.FrameSpans.size())) {
    out_.FrameSpans.resize(static_cast<std::size_t>(k + kFrameSpanGrowth), FrameSpan{});
  }
  out_.Frames[static_cast<std::size_t>(k - 1)] = pending_;

  out_.Header.CanvasWidth = std::max(out_.Header.CanvasWidth, pending_.Left + pending_.Width);
  out_.Header.CanvasHeight = std::max(out_.Header.CanvasHeight, pending_.Top + pending_.Height);
  pending_ = GifFrame{};
  return Step::kDone;
}

}  // namespace

std::int32_t ParseGif(std::span<const std::uint8_t> bytes, ParsedGif& out) {
  out.Header = GifHeader{};
  out.Frames.clear();
  out.FrameSpans.clear();
  out.Tables.ColorTables.clear();
  out.Tables.ActiveColorTable = 0;
  BlockParser parser(bytes, out);
  return parser.Run();
}

}  // namespace velmora::gif
