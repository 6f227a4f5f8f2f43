// Port calls held back while work was done ahead of its turn, to be made when its turn comes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/status_port.h"

namespace zemlo {

// Made in the order they were held back.
class DeferredPort final : public StatusPort {
 public:
  void SetTitle(std::string_view text) override;
  // Answers OK: the boxes shown ahead ask nothing.
  int ShowMessage(Owner owner, std::string_view caption, std::string_view text,
                  MessageIcon icon) override;
  void Repaint(bool erase) override;
  void RunStarted() override;
  void RunEnded() override;
  void SetProgress(int position) override;

  void ReplayTo(StatusPort& port) const;
  void Clear() { used_ = 0; }

 private:
  enum class Kind : std::uint8_t { kTitle, kMessage, kRepaint, kRunStarted, kRunEnded, kProgress };
  struct Call {
    Kind kind = Kind::kTitle;
    Owner owner = Owner::kNone;
    MessageIcon icon = MessageIcon::kWarning;
    int number = 0;  // the repaint's erase, the progress position
    std::string caption;
    std::string text;
  };
  Call& Add(Kind kind);
  // Calls are reused from icon to icon, so their texts keep their room.
  std::vector<Call> calls_;
  std::size_t used_ = 0;
};

}  // namespace zemlo
