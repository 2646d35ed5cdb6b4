// stb_image's implementation for velmora_rss; velmora_bench has it in lzw_bench.cpp.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_GIF
#include <stb/stb_image.h>
