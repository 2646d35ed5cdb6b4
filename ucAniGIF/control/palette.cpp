// Palette operations: read and replace the colour tables of the loaded GIF, and keep a cached
// copy to put back. The renderer loads a frame's table into the strip's palette when it draws, so
// a changed table shows without decoding anything again. Each copy is one block move.

#include <algorithm>
#include <exception>

#include "ucAniGIF/control/ucAniGIF.h"

namespace velmora {
namespace {

constexpr std::int32_t kNoTable = -1;

}  // namespace

// The table FrameIndex names: 0 the global table, 1..FrameCount the frame's own local table;
// -1 for a frame coloured by the global table, an index past the last frame, or a negative one.
std::int32_t ucAniGIF::PaletteTableFor(std::int32_t FrameIndex) const {
  if (FrameIndex == 0) return doc_.Tables.ColorTables.empty() ? kNoTable : 0;
  if (FrameIndex < 0 || FrameIndex > doc_.FrameCount()) return kNoTable;
  const std::int32_t table = doc_.Frame(FrameIndex).ColorTable;
  return table == 0 ? kNoTable : table;
}

// Quirks mended: a table without colours (table 0 of a GIF that has only local tables) and a
// fixed-size array that cannot be resized used to end the call with "subscript out of range"
// after the pause and before the resume, leaving a playing animation paused. Both now return
// false and resume the animation like every other refusal.
bool ucAniGIF::GetPalette(std::int32_t FrameIndex, LongArray& paletteEntries) {
  if (state_.CurrentFrame == 0 || FrameIndex < 0) return false;
  const bool paused = state_.Action == 1;
  if (paused) SetAction(2);

  bool copied = false;
  const std::int32_t table = PaletteTableFor(FrameIndex);
  if (table != kNoTable) {
    const ColorTable& colors = doc_.Tables.ColorTables[static_cast<std::size_t>(table)];
    const std::uint32_t count = colors[kColorCountEntry];
    if (count > 0 && count <= 256 && !paletteEntries.fixedSize) {
      paletteEntries.values.resize(count);
      std::copy_n(colors.begin(), count, reinterpret_cast<std::uint32_t*>(paletteEntries.values.data()));
      paletteEntries.lowerBound = 0;
      paletteEntries.allocated = true;
      copied = true;
    }
  }

  if (paused) SetAction(1);
  return copied;
}

// Every failure after the pause is swallowed, including one from the repaint or the resume.
//
// Left open by the palette rules, decided here: a successful copy sets ActiveColorTable to -1, as
// RestoreColorTables does, so the new colours show at the repaint or resume that ends the call
// even when the changed table is the one the strip's palette holds.
bool ucAniGIF::SetPalette(std::int32_t FrameIndex, const LongArray& paletteEntries) {
  if (state_.CurrentFrame == 0) return false;
  if (!paletteEntries.allocated) return false;
  if (FrameIndex < 0) return false;
  const bool paused = state_.Action == 1;
  if (paused) SetAction(2);

  bool copied = false;
  try {
    const std::int32_t table = PaletteTableFor(FrameIndex);
    if (table != kNoTable) {
      ColorTable& colors = doc_.Tables.ColorTables[static_cast<std::size_t>(table)];
      const std::uint32_t count = std::min<std::uint32_t>(colors[kColorCountEntry], 256);
      if (paletteEntries.values.size() >= count) {
        std::copy_n(reinterpret_cast<const std::uint32_t*>(paletteEntries.values.data()), count,
                    colors.begin());
        doc_.Tables.ActiveColorTable = -1;
        copied = true;
      }
    }
  } catch (const std::exception&) {
    // SetPalette answers false for anything that keeps the table from being written.
  }

  try {
    if (paused) {
      SetAction(1);
    } else {
      Refresh();
    }
  } catch (const std::exception&) {
    // The table is written either way; an error of the host's repaint does not undo it.
  }
  return copied;
}

// A held copy is never refreshed; release it with RestoreColorTables(true) to take a new one.
bool ucAniGIF::CacheColorTables() {
  if (colorTableCache_.ActiveColorTable != 0) return false;
  colorTableCache_ = doc_.Tables;
  colorTableCache_.ActiveColorTable = 1;  // CacheValid
  return true;
}

// No pause and no repaint: the restored colours appear with the next frame drawn, or at the next
// Refresh, because ActiveColorTable -1 makes the renderer load the frame's table again.
bool ucAniGIF::RestoreColorTables(bool bReleaseCache) {
  if (colorTableCache_.ActiveColorTable == 0) return false;
  doc_.Tables = colorTableCache_;
  doc_.Tables.ActiveColorTable = -1;
  if (bReleaseCache) {
    colorTableCache_.ColorTables.clear();
    colorTableCache_.ActiveColorTable = 0;
  }
  return true;
}

}  // namespace velmora
