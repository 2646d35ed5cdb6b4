#pragma once
// The image walker: finds the images of a GIF file and what each needs to be decoded, without
// building a document. The picture loader takes a file's first image through it, and the frame
// strip builder reads each frame's image data at the position the parser recorded.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace velmora::gif {

// One image of a GIF file.
struct GifImageBlock {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  bool interlaced = false;
  // Colour table in effect (local, else the global one given): 3 bytes per entry, may be empty.
  std::span<const std::uint8_t> colorTable;
  bool transparent = false;  // from the graphic control extension just before the image
  int transparentIndex = 0;
  int minCodeSize = 0;
  // The data sub-blocks from the first length byte to the terminator (or the end of the data).
  std::span<const std::uint8_t> subBlocks;
};

struct GifScreen {
  int width = 0;
  int height = 0;
};

// The image whose separator (0x2C) is bytes[separator]: its descriptor, its local table or else
// `globalTable`, the minimum code size and the data sub-blocks, which may be cut short by the end
// of `bytes`. Nothing when there is no separator there or the descriptor, the local table or the
// minimum code size byte is cut off. Transparency is the caller's (it lies before the image).
std::optional<GifImageBlock> ReadImageBlock(std::span<const std::uint8_t> bytes,
                                            std::size_t separator,
                                            std::span<const std::uint8_t> globalTable = {});

// Walks the blocks of a GIF file and returns its images in file order, at most `maxImages`.
// Stops quietly at the trailer, at an unknown block or where the data ends (an image whose
// descriptor or colour table is cut short is not returned; one whose data is cut short is, with
// the data that exists). `screen` receives the logical screen size when given. Returns nothing
// for bytes without a GIF signature and complete logical screen descriptor.
std::vector<GifImageBlock> FindGifImages(std::span<const std::uint8_t> bytes, std::size_t maxImages,
                                         GifScreen* screen = nullptr);

}  // namespace velmora::gif
