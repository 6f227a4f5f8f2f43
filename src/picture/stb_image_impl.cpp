// The one translation unit that compiles stb_image: its PNG decoder only, reading from memory,
// with every allocation checked against kPngAllocationLimit.
//
// Thread safety: several helper threads decode at once. stb keeps its failure reason and its
// flip and iPhone flags per thread (STBI_THREAD_LOCAL, which C++11 compilers get); the flags
// are never set here. Its one shared buffer, the text naming an unknown critical chunk, is
// never written because the PNG reader refuses such chunks (and files that end inside a chunk,
// whose missing bytes stb would read as a chunk type of zeros) before stb sees the file.
#include "picture/stb_image_impl.h"

#include <cstdlib>

#include "core/geometry.h"
#include "picture/png_reader.h"

namespace zemlo::stb {
namespace {

void* CappedMalloc(std::size_t size) {
  return size <= kPngAllocationLimit ? std::malloc(size) : nullptr;
}

void* CappedRealloc(void* block, std::size_t size) {
  // On refusal the old block stays allocated; stb frees it on its error path.
  return size <= kPngAllocationLimit ? std::realloc(block, size) : nullptr;
}

}  // namespace
}  // namespace zemlo::stb

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
// No dimension the reader passes on is larger; stb refuses larger ones itself too.
#define STBI_MAX_DIMENSIONS 800
#define STBI_MALLOC(size) zemlo::stb::CappedMalloc(size)
#define STBI_REALLOC(block, size) zemlo::stb::CappedRealloc(block, size)
#define STBI_FREE(block) std::free(block)

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wcast-qual"
#pragma GCC diagnostic ignored "-Wdouble-promotion"
#pragma GCC diagnostic ignored "-Wconversion"
#if defined(__clang__)
#pragma GCC diagnostic ignored "-Wunknown-warning-option"
#endif
#endif
#include <stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

static_assert(STBI_MAX_DIMENSIONS == zemlo::kPictureWidth &&
              zemlo::kPictureWidth >= zemlo::kPictureHeight);

namespace zemlo::stb {

RgbaImage::~RgbaImage() { stbi_image_free(pixels_); }

Result<RgbaImage> DecodeRgba(std::span<const std::uint8_t> file) {
  int width = 0, height = 0, channels = 0;
  // The reader never passes more than kPngFileLimit bytes, far below the int stb takes.
  std::uint8_t* pixels = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &width,
                                               &height, &channels, STBI_rgb_alpha);
  if (pixels == nullptr) {
    const char* reason = stbi_failure_reason();
    return Fail(Reason{reason != nullptr ? reason : ""});
  }
  return RgbaImage(pixels, width, height);
}

}  // namespace zemlo::stb
