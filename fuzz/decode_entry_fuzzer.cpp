// Icon entries of any content drawn at a crop box taken from the first 8 bytes (width,
// height, left, top as in the coordinates file) into a working picture of exact size.
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "core/geometry.h"
#include "core/status_port.h"
#include "library/codec/entry_decoder.h"
#include "library/store/tables.h"

namespace {

class CountingPort : public zemlo::StatusPort {
 public:
  void SetTitle(std::string_view) override {}
  int ShowMessage(zemlo::Owner, std::string_view, std::string_view, zemlo::MessageIcon) override {
    ++messages;
    return 1;
  }
  void Repaint(bool) override {}
  void RunStarted() override {}
  void RunEnded() override {}
  void SetProgress(int) override {}
  int messages = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < zemlo::kRecordSize) return 0;
  static const std::unique_ptr<std::uint8_t[]> picture(new std::uint8_t[zemlo::kPictureBytes]());
  static std::vector<std::uint8_t> table(zemlo::kCoordinatesTableSize, 0);
  constexpr int kIcon = 3000;
  std::memcpy(table.data() + kIcon * zemlo::kRecordSize, data, zemlo::kRecordSize);
  const zemlo::CoordinatesTable coordinates(table);
  CountingPort port;
  zemlo::DecodeEntry(kIcon, std::span<const std::uint8_t>(data + 8, size - 8),
                     std::span<std::uint8_t>(picture.get(), zemlo::kPictureBytes), coordinates,
                     port, zemlo::Owner::kNone);
  return 0;
}
