// The shared buffers and the shared state that the window and the worker threads co-operate
// through. One object owns all of it; operations borrow what they use by reference.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>

#include "core/geometry.h"
#include "core/status_port.h"

namespace zemlo {

// A zero-filled buffer of fixed size, allocated once. The zeros come from the system's fresh
// pages where it hands out such (calloc): a state's buffers are many megabytes, mostly never
// touched, and filling them cost a run's start more than reading its project. Throws
// std::bad_alloc when the memory cannot be had, as new does.
class Buffer {
 public:
  explicit Buffer(std::size_t size)
      : data_(Allocate(std::calloc(size == 0 ? 1 : size, 1))), size_(size) {}
  // Not filled: for buffers whose users write every byte they read. Their pages are first
  // touched where they are used, on the thread that uses them, not all at once where they are
  // made.
  struct Unfilled {};
  Buffer(std::size_t size, Unfilled)
      : data_(Allocate(std::malloc(size == 0 ? 1 : size))), size_(size) {}
  std::uint8_t* data() { return data_.get(); }
  const std::uint8_t* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  std::span<std::uint8_t> span() { return {data_.get(), size_}; }
  std::span<const std::uint8_t> span() const { return {data_.get(), size_}; }

 private:
  struct Free {
    void operator()(std::uint8_t* p) const { std::free(p); }
  };
  static std::unique_ptr<std::uint8_t[], Free> Allocate(void* memory) {
    if (memory == nullptr) throw std::bad_alloc();
    return std::unique_ptr<std::uint8_t[], Free>(static_cast<std::uint8_t*>(memory));
  }

  std::unique_ptr<std::uint8_t[], Free> data_;
  std::size_t size_;
};

// Inclusive rows and columns of the last picture encoded; painting draws it.
struct CropBox {
  std::int32_t top = 0;
  std::int32_t bottom = 0;
  std::int32_t left = 0;
  std::int32_t right = 0;
};

// The rows a crop box spans; none for the box of an all-black picture (top past bottom).
inline PictureRows RowsOf(const CropBox& box) {
  if (box.top > box.bottom) return {0, 0};
  return {box.top < 0 ? 0 : box.top,
          box.bottom >= kPictureHeight ? kPictureHeight : box.bottom + 1};
}

// The crop box as the worker hands it to painting: one atomic word, so a repaint on the
// window's thread sees a whole box, the old one or the new one, never a mix. Every edge lies
// within 0..800, so 16 bits each suffice.
class SharedCropBox {
 public:
  void store(const CropBox& box) {
    bits_.store(
        Pack(box.top) | Pack(box.bottom) << 16 | Pack(box.left) << 32 | Pack(box.right) << 48,
        std::memory_order_release);
  }
  CropBox load() const {
    const std::uint64_t bits = bits_.load(std::memory_order_acquire);
    return {Unpack(bits), Unpack(bits >> 16), Unpack(bits >> 32), Unpack(bits >> 48)};
  }

 private:
  static std::uint64_t Pack(std::int32_t edge) { return static_cast<std::uint16_t>(edge); }
  static std::int32_t Unpack(std::uint64_t bits) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(bits));
  }
  std::atomic<std::uint64_t> bits_{0};
};

enum class WindowMode : std::uint8_t { kIdle = 0, kRun = 1, kViewer = 2 };

struct WorkingState {
  explicit WorkingState(StatusPort& status_port) : port(status_port) {}
  WorkingState(const WorkingState&) = delete;
  WorkingState& operator=(const WorkingState&) = delete;

  StatusPort& port;

  // The picture is written by the worker while the window may paint it: a repaint that the
  // worker asks for waits until it is drawn (the platform hands it to the window's thread and
  // returns afterwards), but one caused by the user (a window uncovered mid-run) may show a
  // picture half-written for one frame, which is accepted; the next repaint mends it.
  //
  // The nine shared buffers, in the order they are allocated. Those that ReadWholeFile
  // fills carry its spare byte.
  Buffer info_text{kInfoTextSize + kReadSpare};
  Buffer index{kIndexBufferSize};
  Buffer file{kFileBufferSize + kReadSpare};
  Buffer picture{kWorkingPictureSize + kReadSpare};
  Buffer coordinates{kCoordinatesTableSize + kReadSpare};
  Buffer offsets{kOffsetsTableSize + kReadSpare};
  Buffer unpack{kUnpackBufferSize};
  Buffer palette{kPaletteSize};
  // Whole PCX images, written or read, go through here: the largest 800 x 600 image (two bytes
  // for every picture byte) does not fit the file buffer.
  Buffer pcx{kPcxMaxSize + kReadSpare};

  std::atomic<std::int32_t> current_icon{1};
  std::atomic<bool> stop_request{false};
  std::atomic<bool> picture_shown{false};
  std::atomic<bool> crop_lines{false};
  std::atomic<WindowMode> window_mode{WindowMode::kIdle};
  SharedCropBox crop_box;

  // The last title set by SetStatusTitle; the packer appends its progress to it.
  char title_text[kTextBufferSize] = {};

  // The first 1,440,000 bytes of the picture buffer, the picture itself.
  std::span<std::uint8_t> Picture() { return picture.span().first(kPictureBytes); }
};

}  // namespace zemlo
