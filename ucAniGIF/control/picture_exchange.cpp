// The control's side of the single-frame encoder and the AnimatedGIF picture property.
//
// EncodeFrame only gathers the frame's values from the document and hands the strip to the
// byte-exact writer (gif/gif_writer.h); PictureFromBytes makes the picture, which keeps the
// encoded file as its source bytes. SetAnimatedGIF goes the other way: a picture's source bytes
// are the GIF file to load.

#include <algorithm>
#include <exception>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "gif/gif_writer.h"
#include "platform/picture.h"
#include "ucAniGIF/control/ucAniGIF.h"

namespace velmora {
namespace {

// What the strip's bitmap says about itself, not what the frame table claims: a band the frame
// table places outside the bitmap makes the encoder refuse rather than read past the pixels.
std::optional<gif::StripPixels> StripOf(const StripBitmap& strip) {
  const platform::Bitmap* bitmap = strip.Bitmap.get();
  if (bitmap == nullptr || bitmap->Bits() == nullptr) return std::nullopt;
  // The encoder addresses rows bottom-up at one byte per pixel, as the strip is always made.
  if (bitmap->BitsPerPixel() != 8 || bitmap->TopDown()) return std::nullopt;
  return gif::StripPixels{std::span<const std::uint8_t>(bitmap->Bits(), bitmap->SizeBytes()),
                          bitmap->Width(), bitmap->Height(), bitmap->Stride()};
}

std::optional<std::vector<std::uint8_t>> EncodeDocumentFrame(const GifDocument& doc,
                                                             std::int32_t frameNumber) {
  if (frameNumber < 1 || frameNumber > doc.FrameCount()) return std::nullopt;
  const std::optional<gif::StripPixels> strip = StripOf(doc.FrameStrip);
  if (!strip) return std::nullopt;
  const GifFrame& frame = doc.Frame(frameNumber);
  const std::vector<ColorTable>& tables = doc.Tables.ColorTables;
  if (frame.ColorTable < 0 || static_cast<std::size_t>(frame.ColorTable) >= tables.size()) {
    return std::nullopt;
  }
  const ColorTable& table = tables[static_cast<std::size_t>(frame.ColorTable)];

  gif::EncoderInput input;
  input.width = frame.Width;
  input.height = frame.Height;
  input.colors = std::span<const std::uint32_t>(table.data(), kColorCountEntry);
  // A table holds at most 256 colours whatever its count entry says (a palette write could store
  // anything there); the file's table has exactly 256 entries either way.
  input.colorCount =
      static_cast<std::int32_t>(std::min<std::uint32_t>(table[kColorCountEntry], kColorCountEntry));
  input.transparent = frame.Transparent == 1;
  input.transparentIndex = frame.TransparentIndex;
  input.strip = *strip;
  input.stripX = frame.StripX;
  // A frame of zero width or height has no first pixel to start the compressor with: none.
  return gif::EncodeFrameBytes(input);
}

}  // namespace

// Never throws: an allocation failure (or anything else) on the way gives none, and every work
// buffer is owned by the call, so nothing is left behind.
platform::PictureRef ucAniGIF::EncodeFrame(std::int32_t frameNumber) const {
  try {
    std::optional<std::vector<std::uint8_t>> bytes = EncodeDocumentFrame(doc_, frameNumber);
    if (!bytes) return nullptr;
    return platform::PictureFromBytes(std::move(*bytes));
  } catch (...) {
    return nullptr;
  }
}

// In design mode the strip holds frame 1 only and CurrentFrame is 1; in run mode each read
// encodes whichever frame is current at that moment.
platform::PictureRef ucAniGIF::AnimatedGIF() {
  if (state_.CurrentFrame == 0) return nullptr;
  return EncodeFrame(state_.CurrentFrame);
}

// Our pictures carry the file they were made from (Picture::SourceBytes), so the GIF is taken
// from there directly; there is no serialised property bag to strip a 54-byte header from. A
// picture with no source bytes therefore reaches LoadGif as an empty file and simply fails the
// load (an empty control); the classic subscript error for a bag with nothing past its header
// cannot arise.
//
// A picture that is not a GIF (a bitmap, say) is accepted the same way and rejected by the load.
void ucAniGIF::SetAnimatedGIF(platform::PictureRef aGif) {
  if (RunMode()) return;
  if (aGif) {
    doc_.GifBytes = aGif->SourceBytes();
  } else {
    std::vector<std::uint8_t>().swap(doc_.GifBytes);
  }
  const std::int32_t frames = LoadGif();
  if (frames != 0 && !RunMode()) {
    // Stretch 4 makes the resize take the canvas at scale 1; the remembered mode is put back by
    // a plain store, so none of the Stretch setter's repaint, resize or notice happens.
    const std::int32_t remembered = state_.Stretch;
    state_.Stretch = 4;
    try {
      Resize();
    } catch (...) {
      state_.Stretch = remembered;
      throw;
    }
    state_.Stretch = remembered;
    doc_.Header.ScaleFactorX = 1.0f;
    doc_.Header.ScaleFactorY = 1.0f;
  }
  Refresh();
  container_.PropertyChanged("AnimatedGIF");
}

}  // namespace velmora
