// giflib doing the work of `anigif decode` and `anigif encode`, as whole programs for the
// whole-process rows of scripts/bench (bench/process_bench):
//
//   giflib_peer decode FILE        DGifSlurp of the file; prints its frame and pixel counts
//   giflib_peer encode FILE N OUT  DGifSlurp, then image N (1-based) as a one-frame GIF written
//                                  with giflib's encoder to OUT: a 256-entry global table, the
//                                  graphic control block when the image is transparent, the
//                                  image rows put one EGifPutLine at a time (as the in-process
//                                  encode benchmark does)
//
// Exit status 0 on success, 1 when the file cannot be read or written or frame N is missing.

#include <gif_lib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

GifFileType* Slurp(const char* path) {
  int error = 0;
  GifFileType* gif = DGifOpenFileName(path, &error);
  if (gif == nullptr) return nullptr;
  if (DGifSlurp(gif) != GIF_OK) {
    DGifCloseFile(gif, &error);
    return nullptr;
  }
  return gif;
}

int Decode(const char* path) {
  GifFileType* gif = Slurp(path);
  if (gif == nullptr) return 1;
  long long pixels = 0;
  for (int i = 0; i < gif->ImageCount; ++i) {
    pixels += static_cast<long long>(gif->SavedImages[i].ImageDesc.Width) *
              gif->SavedImages[i].ImageDesc.Height;
  }
  std::printf("%s: %d frames, %lld pixels\n", path, gif->ImageCount, pixels);
  int error = 0;
  DGifCloseFile(gif, &error);
  return 0;
}

bool EncodeImage(const GifFileType* in, int index, const char* out) {
  const SavedImage& image = in->SavedImages[index];
  const int width = image.ImageDesc.Width;
  const int height = image.ImageDesc.Height;
  const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : in->SColorMap;
  std::vector<GifColorType> colors(256, GifColorType{0, 0, 0});
  for (int c = 0; map != nullptr && c < map->ColorCount && c < 256; ++c) colors[c] = map->Colors[c];
  GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
  DGifSavedExtensionToGCB(const_cast<GifFileType*>(in), index, &gcb);

  int error = 0;
  GifFileType* gif = EGifOpenFileName(out, false, &error);
  if (gif == nullptr) return false;
  EGifSetGifVersion(gif, true);
  ColorMapObject* colorMap = GifMakeMapObject(256, colors.data());
  bool ok = EGifPutScreenDesc(gif, width, height, 8, 0, colorMap) == GIF_OK;
  GifFreeMapObject(colorMap);
  if (ok && gcb.TransparentColor != NO_TRANSPARENT_COLOR) {
    const GraphicsControlBlock transparent{DISPOSAL_UNSPECIFIED, false, 0, gcb.TransparentColor};
    GifByteType ext[4];
    const size_t n = EGifGCBToExtension(&transparent, ext);
    ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext) == GIF_OK;
  }
  ok = ok && EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
  for (int r = 0; ok && r < height; ++r) {
    ok = EGifPutLine(gif, image.RasterBits + static_cast<std::size_t>(r) * width, width) == GIF_OK;
  }
  return EGifCloseFile(gif, &error) == GIF_OK && ok;
}

int Encode(const char* path, const char* frame, const char* out) {
  const int number = std::atoi(frame);
  GifFileType* gif = Slurp(path);
  if (gif == nullptr) return 1;
  const bool ok = number >= 1 && number <= gif->ImageCount && EncodeImage(gif, number - 1, out);
  int error = 0;
  DGifCloseFile(gif, &error);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "decode" && argc == 3) return Decode(argv[2]);
  if (command == "encode" && argc == 5) return Encode(argv[2], argv[3], argv[4]);
  std::fprintf(stderr, "usage: giflib_peer decode FILE | encode FILE N OUT\n");
  return 2;
}
