// Fixed picture geometry and the sizes of the shared buffers. The working picture is always
// 800 x 600 whatever a project says; every large buffer is sized in picture allowances.
#pragma once

#include <cstddef>

namespace zemlo {

inline constexpr int kPictureWidth = 800;
inline constexpr int kPictureHeight = 600;
inline constexpr int kBytesPerPixel = 3;  // blue, green, red
inline constexpr int kRowBytes = kPictureWidth * kBytesPerPixel;
inline constexpr int kPixelCount = kPictureWidth * kPictureHeight;
inline constexpr int kPictureAllowance = kPixelCount + 5000;
inline constexpr std::size_t kPictureBytes = std::size_t{kPixelCount} * kBytesPerPixel;

// Picture rows [first, end): where a picture may hold pixels that are not black, when the one
// who drew it knows (every row, unless told otherwise).
struct PictureRows {
  int first = 0;
  int end = kPictureHeight;
};

// Height of the button bar above the picture in the main window.
inline constexpr int kButtonBarHeight = 20;

inline constexpr std::size_t kInfoTextSize = 4096;
inline constexpr std::size_t kIndexBufferSize = kPictureAllowance;
inline constexpr std::size_t kFileBufferSize = 4 * std::size_t{kPictureAllowance};
inline constexpr std::size_t kWorkingPictureSize = 4 * std::size_t{kPictureAllowance};
inline constexpr int kCoordinatesCapacity = 21000;
inline constexpr std::size_t kCoordinatesTableSize = 84000 * 2;
inline constexpr int kOffsetsCapacity = 20000;
inline constexpr std::size_t kOffsetsTableSize = 40000 * 4;
inline constexpr std::size_t kUnpackBufferSize = 4 * std::size_t{kPictureAllowance};
inline constexpr std::size_t kPaletteSize = 768;
inline constexpr std::size_t kRecordSize = 8;  // one offsets or coordinates record

// ReadWholeFile stores a zero byte after the data, so every buffer it fills has one more.
inline constexpr std::size_t kReadSpare = 1;

// Title and message texts are formatted into buffers of this size (one byte for the zero).
inline constexpr std::size_t kTextBufferSize = 576;

// The worst PCX body is two bytes per picture byte; the file buffer is smaller than that, so
// exports go through a buffer of their own that every picture fits.
inline constexpr std::size_t kPcxHeaderSize = 128;
inline constexpr std::size_t kPcxMaxSize = kPcxHeaderSize + 2 * kPictureBytes;

}  // namespace zemlo
