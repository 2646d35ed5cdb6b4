#include "ucAniGIF/document/gif_parser.h"

#include <algorithm>
#include <new>
#include <string>
#include <string_view>

#include "platform/errors.h"
#include "ucAniGIF/document/gif_reader.h"

namespace velmora {
namespace {

constexpr std::uint8_t kExtensionIntroducer = 0x21;
constexpr std::uint8_t kImageSeparator = 0x2C;
constexpr std::uint8_t kApplicationLabel = 0xFF;
constexpr std::uint8_t kGraphicControlLabel = 0xF9;
constexpr std::uint8_t kColorTableFlag = 0x80;

constexpr std::int32_t kSignatureLength = 6;
constexpr std::int32_t kScreenPackedPos = 11;  // packed field of the logical screen descriptor
constexpr std::int32_t kAfterScreenPos = 14;   // first byte after the logical screen descriptor
constexpr std::int32_t kInitialFrameSpans = 10;
constexpr std::int32_t kFrameSpanGrowth = 5;
constexpr std::uint8_t kDisposeRestorePrevious = 3;

// The frame count is a 16-bit signed value and FrameSpans grows by 5 in that width whenever the
// count reaches its upper bound (10, 15, ..., 32765). Storing frame 32765 would have to grow it
// to 32770, which overflows. We stop one frame earlier, as any other run-time error ends a parse:
// an image that would become frame 32765 ends the parse before anything of it is kept, and the
// 32764 frames stored completely so far are the result.
constexpr std::int32_t kMaxFrameCount = 32764;

// Case is ignored only for ASCII letters; no other byte can turn into one of the letters of the
// identifiers compared here.
std::string BlockText(const std::vector<std::uint8_t>& block, bool upper) {
  std::string text(block.begin(), block.end());
  for (char& c : text) {
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

class BlockParser {
 public:
  explicit BlockParser(GifDocument& doc) : doc_(doc), reader_(doc.GifBytes, doc.ReadPos) {}

  std::int32_t Run();

 private:
  bool ReadSignature();
  void ReadScreenDescriptor();
  bool ReadBlocks();
  void ReadApplicationExtension();
  void ReadGraphicControlExtension();
  bool ReadImage();

  GifDocument& doc_;
  GifReader reader_;
  std::int32_t frameCount_ = 0;
  bool hasGlobalTable_ = false;
  GifFrame pending_{};
};

std::int32_t BlockParser::Run() {
  doc_.FrameSpans.assign(kInitialFrameSpans, FrameSpan{});
  doc_.ReadPos = 1;
  try {
    if (!ReadSignature()) return 0;
    ReadScreenDescriptor();
    if (!ReadBlocks()) {
      doc_.Frames.clear();
      return 0;
    }
  } catch (const platform::RuntimeError&) {
    // Running out of data (or any other run-time error) ends the parse quietly with the frames
    // completed before it.
  } catch (const std::bad_alloc&) {
    // Out of memory is a run-time error like the others: keep what is complete.
  }
  doc_.Frames.resize(static_cast<std::size_t>(frameCount_));
  return frameCount_;
}

// Header: "GIF87a" or "GIF89a", compared without regard to case. Data shorter than six bytes
// gives a zero block, which matches neither.
bool BlockParser::ReadSignature() {
  reader_.ReadBlock(kSignatureLength, doc_.BlockBuffer);
  const std::string signature = BlockText(doc_.BlockBuffer, false);
  return signature == "gif89a" || signature == "gif87a";
}

// Logical screen descriptor, positions 7..13:
//   7 width (u16)   9 height (u16)   11 packed: global table flag bit 7, table size bits 0-2
//   12 background index   13 pixel aspect ratio
// Only the packed field is used: the canvas comes from the images themselves.
void BlockParser::ReadScreenDescriptor() {
  doc_.ReadPos = kScreenPackedPos;
  const std::uint8_t packed = reader_.ReadByte();
  doc_.ReadPos = kAfterScreenPos;
  if ((packed & kColorTableFlag) == 0) return;
  doc_.Tables.ActiveColorTable = 0;
  reader_.ReadColorTable(doc_.Tables.ColorTables, 0, (packed & 7) + 1, doc_.PowersOfTwo);
  hasGlobalTable_ = true;
}

// Block loop. Returns false when the file turns out unusable (an image without any colour
// table); returns true at the trailer or at any byte that does not start a block, which is
// treated like the trailer.
bool BlockParser::ReadBlocks() {
  for (;;) {
    const std::uint8_t introducer = reader_.ReadByte();
    if (introducer == 0x00) continue;  // stray zero bytes between blocks are tolerated
    if (introducer == kImageSeparator) {
      if (!ReadImage()) return false;
      continue;
    }
    if (introducer != kExtensionIntroducer) return true;
    const std::uint8_t label = reader_.ReadByte();
    if (label == kApplicationLabel) {
      ReadApplicationExtension();
    } else if (label == kGraphicControlLabel) {
      ReadGraphicControlExtension();
    } else {
      // Plain text, comment and unknown extensions: contents are not kept.
      reader_.SkipSubBlocks();
    }
  }
}

// Application extension, after 0x21 0xFF:
//   +0 block size n (11)   +1 identifier and authentication code (n bytes)
//   then sub-blocks; for "NETSCAPE2.0" the first is: size 3, index 1, loop count (u16), and 0.
// An identifier longer than the remaining data leaves a zero block (no match) and an unmoved
// ReadPos, so the sub-block skip starts at the identifier itself.
void BlockParser::ReadApplicationExtension() {
  const std::uint8_t size = reader_.ReadByte();
  reader_.ReadBlock(size, doc_.BlockBuffer);
  if (BlockText(doc_.BlockBuffer, true) == "NETSCAPE2.0") {
    const std::uint8_t subBlockSize = reader_.ReadByte();
    if (subBlockSize == 3) {
      doc_.ReadPos += 1;  // the sub-block index, whatever its value
      doc_.Header.LoopCount = reader_.ReadWord();
    } else {
      // Not the loop sub-block: leave it to the skip below.
      doc_.ReadPos -= 1;
    }
  }
  reader_.SkipSubBlocks();
}

// Graphic control extension, after the 0x21 0xF9 introducer:
//   +0 block size (4, not checked)   +1 packed: disposal bits 2-4, transparency bit 0
//   +2 delay, hundredths of a second (u16)   +4 transparent index   +5 terminator
// A later extension before the same image replaces an earlier one completely.
void BlockParser::ReadGraphicControlExtension() {
  pending_ = GifFrame{};
  pending_.StripX = doc_.ReadPos - 2;
  reader_.ReadByte();
  const std::uint8_t packed = reader_.ReadByte();
  std::uint8_t disposal = (packed >> 2) & 7;
  // "Restore to previous" has nothing to restore before the first frame; values 4..7 are
  // undefined. Both are read as "unspecified".
  if (disposal == kDisposeRestorePrevious && frameCount_ == 0) disposal = 0;
  if (disposal > kDisposeRestorePrevious) disposal = 0;
  pending_.Disposal = disposal;
  pending_.Delay = static_cast<std::int32_t>(reader_.ReadWord()) * 10;
  pending_.Transparent = packed & 1;
  if (pending_.Transparent == 1) {
    pending_.TransparentIndex = reader_.ReadByte();
  } else {
    // The stored index is ignored, not read: TransparentIndex stays 0. The skip starts where the
    // terminator belongs, even if the data ends before it.
    doc_.ReadPos = pending_.StripX + 7;
  }
  reader_.SkipSubBlocks();
}

// Image descriptor, after the 0x2C separator:
//   +0 left (u16)   +2 top (u16)   +4 width (u16)   +6 height (u16)
//   +8 packed: local table flag bit 7, interlace bit 6, sort bit 5, table size bits 0-2
//   then the local colour table if flagged, the LZW minimum code size, and data sub-blocks.
// Returns false when the image has no colour table at all.
bool BlockParser::ReadImage() {
  const std::int32_t k = frameCount_ + 1;
  if (k > kMaxFrameCount) throw platform::OverflowError("ParseGif");
  FrameSpan& span = doc_.FrameSpans[static_cast<std::size_t>(k - 1)];
  span.Start = doc_.ReadPos - 1;
  if (pending_.StripX == 0) pending_.StripX = span.Start;

  pending_.Left = reader_.ReadWord();
  pending_.Top = reader_.ReadWord();
  pending_.Width = reader_.ReadWord();
  pending_.Height = reader_.ReadWord();

  const std::uint8_t packed = reader_.ReadByte();
  if ((packed & kColorTableFlag) != 0) {
    const std::int32_t table = doc_.Tables.ActiveColorTable + 1;
    pending_.ColorTable = table;
    reader_.ReadColorTable(doc_.Tables.ColorTables, table, (packed & 7) + 1, doc_.PowersOfTwo);
    doc_.Tables.ActiveColorTable = table;
  } else if (!hasGlobalTable_) {
    return false;
  }

  reader_.ReadByte();  // LZW minimum code size: the frame builder deals with it
  // A truncated final image is kept: the skip stops at the end of the data without an error and
  // the span then reaches past it. The frame builder never reads beyond the data.
  reader_.SkipSubBlocks();

  frameCount_ = k;
  span.Length = doc_.ReadPos - span.Start;
  doc_.Frames.resize(static_cast<std::size_t>(k));
  if (k == static_cast<std::int32_t>(doc_.FrameSpans.size())) {
    doc_.FrameSpans.resize(static_cast<std::size_t>(k + kFrameSpanGrowth), FrameSpan{});
  }
  doc_.Frames[static_cast<std::size_t>(k - 1)] = pending_;

  doc_.Header.CanvasWidth = std::max(doc_.Header.CanvasWidth, pending_.Left + pending_.Width);
  doc_.Header.CanvasHeight = std::max(doc_.Header.CanvasHeight, pending_.Top + pending_.Height);
  pending_ = GifFrame{};
  return true;
}

}  // namespace

std::int32_t ParseGif(GifDocument& doc) {
  // A parse always starts from an empty frame table and colour table set, so local tables are
  // numbered 1, 2, ... even if a caller forgot the reset.
  doc.Frames.clear();
  doc.Tables.ColorTables.clear();
  doc.Tables.ActiveColorTable = 0;
  BlockParser parser(doc);
  return parser.Run();
}

void BuildPowersOfTwo(GifDocument& doc) {
  doc.PowersOfTwo.assign(9, 1);
  for (std::size_t i = 1; i < doc.PowersOfTwo.size(); ++i) {
    doc.PowersOfTwo[i] = 2 * doc.PowersOfTwo[i - 1];
  }
}

}  // namespace velmora
