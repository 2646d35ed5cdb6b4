#pragma once
// The GIF block parser: walks GifBytes once, from the signature to the trailer, and fills the
// header, colour tables, frame table and frame spans of a GifDocument. It does not decode image
// data. See gif_reader.h for the byte-reading primitives.

#include <cstdint>

#include "ucAniGIF/document/gif_document.h"

namespace velmora {

// Parses doc.GifBytes. Expects Header zeroed and PowersOfTwo built (as the load driver leaves
// them). Returns the number of frames stored, 0 when nothing is usable. Never throws: running out
// of data ends the parse with the frames completed so far.
std::int32_t ParseGif(GifDocument& doc);

// Fills PowersOfTwo with 2^0 .. 2^8.
void BuildPowersOfTwo(GifDocument& doc);

}  // namespace velmora
