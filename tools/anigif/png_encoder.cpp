// The file is signature, IHDR, PLTE (palette images), one IDAT with the whole zlib stream, IEND:
//   chunk: length (u32 BE, of the data) | type (4 ASCII bytes) | data | CRC-32 of type and data
//   IHDR data: width (u32 BE) | height (u32 BE) | bit depth 8 | colour type | compression 0 |
//              filter method 0 | interlace 0
//
// Compression: zlib's fastest level (the greedy matcher) with its search tuned for frames, which
// are mostly long runs and rows repeating the row above: matches are looked for up to their full
// length and along 16 earlier positions instead of stopping at 8 bytes after 4. That keeps the
// level's speed and gives files well under those of libpng's defaults on such frames (see
// bench/README.md).

#include "tools/anigif/png_encoder.h"

#include <algorithm>
#include <array>

namespace velmora::anigif {
namespace {

constexpr std::array<std::uint8_t, 8> kSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr int kColorTypeRgb = 2;
constexpr int kColorTypePalette = 3;
constexpr int kLevel = 1;
constexpr int kGoodLength = 4;
constexpr int kMaxLazy = 4;
constexpr int kNiceLength = 258;
constexpr int kMaxChain = 16;
// PNG chunk lengths and dimensions are at most 2^31 - 1.
constexpr std::uint64_t kMaxPngNumber = 0x7FFFFFFFu;
// zlib counts in 32 bits; a frame within the raster bound is far below this.
constexpr std::uint64_t kMaxStreamInput = std::uint64_t{1} << 30;

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.insert(out.end(), {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                         static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
}

void SetU32(std::uint8_t* at, std::uint32_t v) {
  at[0] = static_cast<std::uint8_t>(v >> 24);
  at[1] = static_cast<std::uint8_t>(v >> 16);
  at[2] = static_cast<std::uint8_t>(v >> 8);
  at[3] = static_cast<std::uint8_t>(v);
}

// Appends the chunk's CRC; the chunk starts at `start` with its length field.
void EndChunk(std::vector<std::uint8_t>& out, std::size_t start) {
  const std::uint8_t* type = out.data() + start + 4;
  const auto bytes = static_cast<uInt>(out.size() - start - 4);
  PutU32(out, static_cast<std::uint32_t>(crc32(crc32(0, nullptr, 0), type, bytes)));
}

void PutChunk(std::vector<std::uint8_t>& out, const char* type,
              std::span<const std::uint8_t> data) {
  const std::size_t start = out.size();
  PutU32(out, static_cast<std::uint32_t>(data.size()));
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  EndChunk(out, start);
}

}  // namespace

PngEncoder::PngEncoder() {
  ready_ = deflateInit2(&stream_, kLevel, Z_DEFLATED, MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
}

PngEncoder::~PngEncoder() {
  if (ready_) deflateEnd(&stream_);
}

bool PngEncoder::Encode(int width, int height, std::span<const std::uint8_t> rows,
                        std::span<const std::uint8_t> palette, std::vector<std::uint8_t>& file) {
  const bool indexed = !palette.empty();
  const std::uint64_t rowBytes = 1 + static_cast<std::uint64_t>(width) * (indexed ? 1 : 3);
  if (!ready_ || width < 1 || height < 1 || static_cast<std::uint64_t>(width) > kMaxPngNumber ||
      static_cast<std::uint64_t>(height) > kMaxPngNumber ||
      rows.size() != rowBytes * static_cast<std::uint64_t>(height) ||
      rows.size() > kMaxStreamInput || palette.size() % 3 != 0 || palette.size() > 3 * 256) {
    return false;
  }
  file.assign(kSignature.begin(), kSignature.end());
  std::array<std::uint8_t, 13> header{};
  SetU32(header.data(), static_cast<std::uint32_t>(width));
  SetU32(header.data() + 4, static_cast<std::uint32_t>(height));
  header[8] = 8;
  header[9] = indexed ? kColorTypePalette : kColorTypeRgb;
  PutChunk(file, "IHDR", header);
  if (indexed) PutChunk(file, "PLTE", palette);

  // The tuning goes back to the level's values on every reset.
  if (deflateReset(&stream_) != Z_OK ||
      deflateTune(&stream_, kGoodLength, kMaxLazy, kNiceLength, kMaxChain) != Z_OK) {
    return false;
  }
  const std::size_t start = file.size();
  PutU32(file, 0);
  file.insert(file.end(), {'I', 'D', 'A', 'T'});
  const std::size_t dataStart = file.size();
  const uLong room = deflateBound(&stream_, static_cast<uLong>(rows.size()));
  file.resize(dataStart + room);
  stream_.next_in = const_cast<Bytef*>(rows.data());
  stream_.avail_in = static_cast<uInt>(rows.size());
  stream_.next_out = file.data() + dataStart;
  stream_.avail_out = static_cast<uInt>(room);
  // With deflateBound's room one call finishes the stream.
  const int status = deflate(&stream_, Z_FINISH);
  file.resize(file.size() - stream_.avail_out);
  if (status != Z_STREAM_END) return false;
  const std::uint64_t dataBytes = file.size() - dataStart;
  if (dataBytes > kMaxPngNumber) return false;
  SetU32(file.data() + start, static_cast<std::uint32_t>(dataBytes));
  EndChunk(file, start);
  PutChunk(file, "IEND", {});
  return true;
}

}  // namespace velmora::anigif
