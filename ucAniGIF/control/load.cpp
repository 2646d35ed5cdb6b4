// The load pipeline: every source (a file, a byte array, a remote download, the saved properties,
// an assigned picture) places a complete GIF file in GifBytes and calls LoadGif, which resets the
// document, parses it (gif/gif_parser.h) and has BuildFrames decode it. BuildFrames orchestrates
// the frame strip builder (render/frame_strip.h) and hands over to the animation when the load
// completes.

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <string>

#include "gif/gif_format.h"
#include "gif/gif_parser.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "ucAniGIF/control/ucAniGIF.h"
#include "ucAniGIF/render/frame_strip.h"
#include "ucAniGIF/render/renderer.h"

namespace velmora {
namespace {

// Remote data this short cannot hold a header and one image; it is refused before it reaches the
// parser (a 15-byte download is let through and left to the parser).
constexpr std::size_t kShortestRemoteGif = 15;
constexpr std::size_t kRemoteHeaderBytes = 10;

void DiscardBytes(std::vector<std::uint8_t>& bytes) { DiscardLoadBuffer(bytes); }

}  // namespace

// Decodes UTF-8 code points; a path is ANSI when no code point needs a UTF-16 unit above 255
// (every code point above U+00FF makes a unit above 255, surrogates included).
bool IsAnsiPath(std::string_view utf8Path) {
  for (std::size_t i = 0; i < utf8Path.size(); ++i) {
    const auto lead = static_cast<unsigned char>(utf8Path[i]);
    if (lead < 0x80) continue;
    if ((lead & 0xE0) != 0xC0 || i + 1 >= utf8Path.size()) return false;
    const auto trail = static_cast<unsigned char>(utf8Path[i + 1]);
    if ((trail & 0xC0) != 0x80) return false;
    const unsigned codePoint = ((lead & 0x1Fu) << 6) | (trail & 0x3Fu);
    if (codePoint < 0x80 || codePoint > 0xFF) return false;  // overlong, or above Latin-1
    ++i;
  }
  return true;
}

// A run-mode load paints frame 1 at once, whatever the frame count; only a single frame also
// announces it (a multi-frame GIF reports its frames from the scheduler).
//
// Quirk mended: painting only single frames here left a multi-frame GIF's frame 1 to whatever
// paint the host happened to deliver. A host that paints only when asked (the headless host, a
// Qt widget whose size the load did not change, any reload into a control already on screen)
// then showed nothing of frame 1, and worse, the composite canvas never went through frame 1's
// prepare phase: a new canvas is all black with every mask bit clear (painted), so the first
// frame 2, from the timer or a step, was drawn over black instead of over frame 1 and its
// transparent pixels hid the background. It came right only at the first wrap, whose paint of
// frame 1 empties the canvas. Painting here puts frame 1 on screen when the load returns and
// leaves the canvas holding frame 1 for whichever frame is painted next. Frame 1 painted again
// by the host afterwards (an expose, the resize that follows a load) is the same picture.
std::int32_t ucAniGIF::LoadGif() {
  ResetGif();
  doc_.Header = GifHeader{};
  std::int32_t frames = 0;
  if (!doc_.GifBytes.empty()) {
    frames = gif::ParseGif(doc_.GifBytes, doc_);
    if (frames != 0) {
      // An error here (from the build, the repaint or a FrameChanged handler) skips the rest of
      // the step and keeps the frame count: the control shows what was built.
      try {
        doc_.ReadPos = 0;
        bool firstPass = true;
        if (!BuildFrames(firstPass)) {
          frames = 0;
        } else if (RunMode()) {
          Refresh();
          if (frames == 1) RaiseFrameChanged(1, false);
        }
      } catch (const std::exception&) {
        // The load's contract: the frames built stay loaded whatever failed after them.
      }
    }
  }
  if (frames == 0) {
    DiscardBytes(doc_.GifBytes);
    ResetGif();
    // The parser may have widened the canvas before the load failed; nothing loaded measures 0.
    doc_.Header = GifHeader{};
  }
  return frames;
}

// Every step runs even when one before it failed. The frame spans are released too: after a
// reset nothing of a previous load may be used again.
void ucAniGIF::ResetGif() {
  try {
    SetAnimationTimer(kTimerStop);
  } catch (const std::exception&) {
    // A host that fails to kill the timer: the reset goes on (see above).
  }
  deferredDecodePending_ = false;
  doc_.Frames.clear();
  state_.Action = 0;
  state_.CurrentFrame = 0;
  doc_.ReadPos = 0;

  ReleaseFrameStrip(doc_);

  doc_.Tables.ColorTables.clear();
  doc_.Tables.ActiveColorTable = 0;
  colorTableCache_.ColorTables.clear();
  colorTableCache_.ActiveColorTable = 0;  // CacheValid
  doc_.MaskPalette.clear();
  doc_.FrameSpans.clear();

  binding_.ReleaseCallbacks();
  callbackEntry_ = 0;
}

// The frame-building orchestration. The first pass builds frame 1 and only frame 1; frames 2..n
// follow at once in a nested pass (DelayAnimation 0) or from the deferred-decoding timer. Any
// error ends the call with false (a half-built strip stays for the reset); the result of the
// nested and of the deferred pass is not looked at by their callers.
bool ucAniGIF::BuildFrames(bool& firstPass) {
  try {
    const bool userMode = RunMode();
    const std::int32_t frameCount = doc_.FrameCount();
    // Whether frame 1 was mirrored by the first pass of a deferred load; the deferred pass takes
    // over from it here, before the animation it starts can see the flag.
    bool frameOneMirrored = false;
    if (firstPass) {
      if (!PrepareFrameStrip(doc_, userMode)) return false;
      DecodeFramesIntoStrip(doc_, 1, 1);
    } else {
      frameOneMirrored = deferredDecodePending_;
      deferredDecodePending_ = false;
      DecodeFramesIntoStrip(doc_, 2, frameCount);
    }

    if (firstPass) {
      state_.CurrentFrame = 1;
      std::int32_t w = static_cast<std::int32_t>(std::lrint(Surface().ScaleWidth()));
      std::int32_t h = static_cast<std::int32_t>(std::lrint(Surface().ScaleHeight()));
      ComputeScale(doc_.Header, state_.Stretch, state_.CurrentFrame, w, h,
                   doc_.Header.ScaleFactorX, doc_.Header.ScaleFactorY);
      if (!userMode) {
        firstPass = false;
      } else if (state_.DelayAnimation == 0) {
        bool nestedFirstPass = false;
        BuildFrames(nestedFirstPass);
        return true;  // the nested pass completed the load
      } else if (frameCount == 1) {
        firstPass = false;
      } else {
        MirrorFrames(doc_, state_.Mirrored, 0, /*firstFrameOnly=*/true, /*includeCanvas=*/false);
        state_.Mirrored |= kFrameOneMirroredFlag;
        deferredDecodePending_ = true;
        SetAnimationTimer(kTimerDeferredDecode);
      }
    }

    if (!firstPass) {
      DiscardLoadTables(doc_);
      if (!userMode) {
        MirrorFrames(doc_, state_.Mirrored, 0, /*firstFrameOnly=*/true, false);
      } else {
        // The flag tells MirrorFrames to start at frame 2. It is set again here rather than
        // trusted, because a Mirrored setter call in between may have replaced the stored value.
        if (frameOneMirrored) state_.Mirrored |= kFrameOneMirroredFlag;
        MirrorFrames(doc_, state_.Mirrored, 0, /*firstFrameOnly=*/false, false);
        DiscardBytes(doc_.GifBytes);
        if ((state_.DelayAnimation & 2) != 0) {
          RaiseFrameChanged(1, false);
        } else {
          ReloadLoopsRemaining();
          SetAnimationTimer(kTimerAnimate);
        }
      }
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void ucAniGIF::ResizeAfterLoad() {
  if (state_.Stretch == 1 || state_.Stretch == 3 || state_.Stretch == 4) Resize();
}

void ucAniGIF::CopyIntoGifBytes(std::span<const std::uint8_t> source, std::size_t firstIndex) {
  std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(firstIndex), doc_.GifBytes.size(),
              doc_.GifBytes.begin());
}

// The classic code picks the code-page or the UTF-16 file interface by IsAnsiPath. On the
// platforms we build for a path names its file directly in UTF-8, so both branches would open
// the same name and there is one: attributes, then open, size and read (platform/files.h). Every
// way of failing discards GifBytes and lets LoadGif reset the control.
bool ucAniGIF::LoadAnimatedGIF_File(std::string_view FileName) {
  platform::FileReadResult file = platform::ReadWholeFile(FileName);
  if (file.Ok()) {
    doc_.GifBytes = std::move(file.bytes);
  } else {
    DiscardBytes(doc_.GifBytes);
  }
  if (LoadGif() == 0) return false;
  ResizeAfterLoad();
  return true;
}

// An array without storage or of three or more dimensions fails the load like an unreadable
// file: GifBytes is discarded and the control reset, rather than loading whatever GifBytes held
// (nothing, in run mode after a completed load). A descriptor whose byte count does not fit 32
// bits is a run-time error: false, and the control keeps what it shows.
bool ucAniGIF::LoadAnimatedGIF_Array(const ByteArrayArg& Bytes) {
  try {
    const std::size_t dimensions = Bytes.elementCounts.size();
    if (Bytes.data == nullptr || dimensions == 0 || dimensions > 2) {
      DiscardBytes(doc_.GifBytes);
    } else {
      std::int64_t count = Bytes.elementSize;
      for (const std::int32_t elements : Bytes.elementCounts) count *= elements;
      if (Bytes.elementSize < 1 || count < 0 || count > std::numeric_limits<std::int32_t>::max()) {
        throw platform::OverflowError(std::string(kControlName));
      }
      doc_.GifBytes.assign(Bytes.data, Bytes.data + count);
    }
    if (LoadGif() == 0) return false;
    ResizeAfterLoad();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void ucAniGIF::LoadAnimatedGIF_Remote(std::string_view RemotePath) {
  if (RemotePath.empty()) return;
  // Whatever keeps the read from starting (the host's run-time error, an allocation failure, any
  // other exception of the host's) is reported as the event and goes no further.
  bool started = false;
  try {
    container_.AsyncRead(RemotePath, kRemoteGifProperty, platform::kAsyncReadCacheFallback);
    started = true;
  } catch (...) {
    // Reported as RemoteLoadFailure just below, as the method's contract says.
  }
  if (!started) container_.Events().RemoteLoadFailure();
}

// Any completed asynchronous read is the remote GIF.
//
// Quirk mended: the header checks read the first ten bytes into a buffer of their own instead of
// into GifBytes. Going through GifBytes and discarding it afterwards would, in design mode, throw
// away the bytes of the GIF still shown (and saved with the form) whenever a remote load is
// refused or cancelled; here a refused or cancelled remote load leaves the document whole.
void ucAniGIF::AsyncReadComplete(platform::AsyncProperty& property) {
  const std::vector<std::uint8_t>& data = property.value;
  if (data.size() < kShortestRemoteGif) {
    container_.Events().RemoteLoadFailure();
    return;
  }
  const std::span<const std::uint8_t> header(data.data(), kRemoteHeaderBytes);
  if (!gif::HasGifSignature(header)) {
    container_.Events().RemoteLoadFailure();
    return;
  }
  // The logical screen size stored in the file, not the frames' extent the control will use.
  const unsigned screenWidth = header[6] | (header[7] << 8);
  const unsigned screenHeight = header[8] | (header[9] << 8);
  const auto gifWidth = static_cast<float>(std::floor(Surface().ScaleX(
      screenWidth, platform::kUnitPixels, platform::kUnitContainerSize)));
  const auto gifHeight = static_cast<float>(std::floor(Surface().ScaleY(
      screenHeight, platform::kUnitPixels, platform::kUnitContainerSize)));
  bool cancel = false;
  container_.Events().RemoteLoadComplete(gifWidth, gifHeight, cancel);
  if (cancel) return;
  doc_.GifBytes = data;
  if (LoadGif() != 0) ResizeAfterLoad();
}

void ucAniGIF::AsyncReadProgress(platform::AsyncProperty& property) {
  if (property.status != platform::kAsyncStatusError) return;
  container_.CancelAsyncRead(property.propertyName);
  container_.Events().RemoteLoadFailure();
}

}  // namespace velmora
