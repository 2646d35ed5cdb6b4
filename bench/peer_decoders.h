#pragma once
// The peers that decode to composited colour frames, each behind one function that decodes every
// frame of a GIF in memory and returns the number of canvas-sized frames it produced (0 on
// failure): stb_image's animated loader, Qt's QImageReader and gdk-pixbuf's animation iterator.
// Qt and gdk-pixbuf are optional; HasQt() and HasGdkPixbuf() say whether this build has them.

#include <cstdint>
#include <vector>

namespace velmora::bench {

// stbi_load_gif_from_memory: every frame as RGBA in one block.
int DecodeFramesWithStb(const std::vector<std::uint8_t>& bytes);

bool HasQt();
// QImageReader reading frame after frame; each read composites the next frame.
int DecodeFramesWithQt(const std::vector<std::uint8_t>& bytes);

bool HasGdkPixbuf();
// gdk_pixbuf_animation_new_from_stream, then the iterator advanced by each frame's delay on an
// explicit clock, taking each frame's pixbuf; stops after `frames` frames.
int DecodeFramesWithGdkPixbuf(const std::vector<std::uint8_t>& bytes, int frames);

}  // namespace velmora::bench
