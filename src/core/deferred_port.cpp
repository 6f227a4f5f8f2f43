#include "core/deferred_port.h"

namespace zemlo {

DeferredPort::Call& DeferredPort::Add(Kind kind) {
  if (used_ == calls_.size()) calls_.emplace_back();
  Call& call = calls_[used_++];
  call.kind = kind;
  return call;
}

void DeferredPort::SetTitle(std::string_view text) { Add(Kind::kTitle).text.assign(text); }

int DeferredPort::ShowMessage(Owner owner, std::string_view caption, std::string_view text,
                              MessageIcon icon) {
  Call& call = Add(Kind::kMessage);
  call.owner = owner;
  call.caption.assign(caption);
  call.text.assign(text);
  call.icon = icon;
  return 1;
}

void DeferredPort::Repaint(bool erase) { Add(Kind::kRepaint).number = erase ? 1 : 0; }
void DeferredPort::RunStarted() { Add(Kind::kRunStarted); }
void DeferredPort::RunEnded() { Add(Kind::kRunEnded); }
void DeferredPort::SetProgress(int position) { Add(Kind::kProgress).number = position; }

void DeferredPort::ReplayTo(StatusPort& port) const {
  for (std::size_t i = 0; i < used_; ++i) {
    const Call& call = calls_[i];
    switch (call.kind) {
      case Kind::kTitle:
        port.SetTitle(call.text);
        break;
      case Kind::kMessage:
        port.ShowMessage(call.owner, call.caption, call.text, call.icon);
        break;
      case Kind::kRepaint:
        port.Repaint(call.number != 0);
        break;
      case Kind::kRunStarted:
        port.RunStarted();
        break;
      case Kind::kRunEnded:
        port.RunEnded();
        break;
      case Kind::kProgress:
        port.SetProgress(call.number);
        break;
    }
  }
}

}  // namespace zemlo
