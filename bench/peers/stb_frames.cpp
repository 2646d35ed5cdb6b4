// stb_image writing every composited frame of a GIF as PPM files, as `anigif frames` does, as a
// whole program for the whole-process rows of scripts/bench (bench/process_bench):
//
//   stb_frames FILE DIR   stbi_load_gif_from_memory decodes every frame to RGBA at once; each
//                         frame goes to DIR/frame-0001.ppm, ... (P6, alpha dropped, a row at a
//                         time)
//
// Exit status 0 when every frame was written, 1 otherwise.

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_GIF
#include <stb/stb_image.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: stb_frames FILE DIR\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
  int* delays = nullptr;
  int width = 0, height = 0, frames = 0, channels = 0;
  stbi_uc* pixels = stbi_load_gif_from_memory(bytes.data(), static_cast<int>(bytes.size()),
                                              &delays, &width, &height, &frames, &channels, 4);
  if (pixels == nullptr) return 1;
  std::error_code ec;
  std::filesystem::create_directories(argv[2], ec);
  std::vector<unsigned char> row(static_cast<std::size_t>(width) * 3);
  bool ok = true;
  for (int k = 0; ok && k < frames; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%04d.ppm", k + 1);
    const std::string path = (std::filesystem::path(argv[2]) / name).string();
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
      ok = false;
      break;
    }
    std::fprintf(out, "P6\n%d %d\n255\n", width, height);
    const stbi_uc* frame = pixels + static_cast<std::size_t>(k) * width * height * 4;
    for (int y = 0; ok && y < height; ++y) {
      const stbi_uc* src = frame + static_cast<std::size_t>(y) * width * 4;
      for (int x = 0; x < width; ++x) {
        row[3 * x] = src[4 * x];
        row[3 * x + 1] = src[4 * x + 1];
        row[3 * x + 2] = src[4 * x + 2];
      }
      ok = std::fwrite(row.data(), 1, row.size(), out) == row.size();
    }
    ok = std::fclose(out) == 0 && ok;
  }
  stbi_image_free(pixels);
  stbi_image_free(delays);
  return ok ? 0 : 1;
}
