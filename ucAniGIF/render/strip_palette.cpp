#include "ucAniGIF/render/strip_palette.h"

#include <algorithm>
#include <array>
#include <span>

namespace velmora {

namespace {

constexpr platform::RgbQuad kWhite = 0xFFFFFFu;
constexpr platform::RgbQuad kBlack = 0x000000u;

void LoadStripEntries(GifDocument& doc, std::span<const platform::RgbQuad> entries) {
  if (!doc.FrameStrip.DC || entries.empty()) return;
  platform::SetDIBColorTable(*doc.FrameStrip.DC, 0, entries);
}

}  // namespace

int ColorCount(const GifDocument& doc, std::int32_t tableNumber) {
  if (tableNumber < 0 || static_cast<std::size_t>(tableNumber) >= doc.Tables.ColorTables.size()) {
    return 0;
  }
  const std::uint32_t count =
      doc.Tables.ColorTables[static_cast<std::size_t>(tableNumber)][kColorCountEntry];
  return static_cast<int>(std::min<std::uint32_t>(count, 256));
}

void LoadMaskPalette(GifDocument& doc, const GifFrame& f, bool transparentWhite) {
  const int n = ColorCount(doc, f.ColorTable);
  // Working on a copy leaves MaskPalette all zero, as it must be between draws.
  std::array<platform::RgbQuad, 256> entries{};
  if (doc.MaskPalette.size() == entries.size()) {
    std::copy(doc.MaskPalette.begin(), doc.MaskPalette.end(), entries.begin());
  }
  if (transparentWhite) entries[f.TransparentIndex] = kWhite;
  LoadStripEntries(doc, std::span(entries).first(static_cast<std::size_t>(n)));
}

void LoadFrameColors(GifDocument& doc, const GifFrame& f) {
  const auto n = static_cast<std::size_t>(ColorCount(doc, f.ColorTable));
  std::array<platform::RgbQuad, 256> entries{};
  if (n > 0) {
    const ColorTable& table = doc.Tables.ColorTables[static_cast<std::size_t>(f.ColorTable)];
    std::copy_n(table.begin(), n, entries.begin());
  }
  if (f.Transparent == 1) {
    // Black at the transparent index lets the OR transfer leave the background there.
    entries[f.TransparentIndex] = kBlack;
    LoadStripEntries(doc, std::span(entries).first(n));
    doc.Tables.ActiveColorTable = -1;
    return;
  }
  if (f.ColorTable == doc.Tables.ActiveColorTable) return;
  LoadStripEntries(doc, std::span(entries).first(n));
  doc.Tables.ActiveColorTable = f.ColorTable;
}

}  // namespace velmora
