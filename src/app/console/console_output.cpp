#include "app/console/console_output.h"

namespace zemlo::console {

void BufferStandardStreams() {
#if defined(_WIN32)
  // Full buffering (the runtime knows no line buffering); every writer here flushes what it
  // wrote, so nothing waits in the buffer for long.
  constexpr std::size_t kBufferSize = 1 << 16;
  std::setvbuf(stdout, nullptr, _IOFBF, kBufferSize);
  std::setvbuf(stderr, nullptr, _IOFBF, kBufferSize);
#endif
}

bool PrintText(std::FILE* stream, std::string_view text) {
  const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  return std::fflush(stream) == 0 && written;
}

}  // namespace zemlo::console
