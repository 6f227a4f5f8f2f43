#include "core/status.h"

#include <cstdio>
#include <string>

namespace zemlo {
namespace {

constexpr std::string_view kUntitled = "UNTITLED";
constexpr std::string_view kOk = "OK";

}  // namespace

void FormatStatusTitle(char (&text)[kTextBufferSize], std::string_view name,
                       std::string_view status, int number) {
  const std::string shown_name(name.empty() ? kUntitled : name);
  const std::string shown_status(status.empty() ? kOk : status);
  // snprintf cuts at the buffer's end, so a long name never overruns the shared title.
  std::snprintf(text, sizeof text, "%s - %s (%s) - %i", std::string(kClassName).c_str(),
                shown_name.c_str(), shown_status.c_str(), number);
}

void SetStatusTitle(WorkingState& state, std::string_view name, std::string_view status,
                    int number) {
  FormatStatusTitle(state.title_text, name, status, number);
  state.port.SetTitle(state.title_text);
}

int ShowWarning(StatusPort& port, Owner owner, TextFormat format, std::string_view text) {
  const std::string argument(text.empty() ? kUntitled : text);
  char message[kTextBufferSize];
  std::snprintf(message, sizeof message, format.c_str(), argument.c_str());
  return port.ShowMessage(owner, kClassName, message, MessageIcon::kWarning);
}

int ShowWarningNumber(StatusPort& port, Owner owner, NumberFormat format, int number) {
  char message[kTextBufferSize];
  std::snprintf(message, sizeof message, format.c_str(), number);
  return port.ShowMessage(owner, kClassName, message, MessageIcon::kWarning);
}

int ShowNoticeNumber(StatusPort& port, Owner owner, NumberFormat format, int number) {
  char message[kTextBufferSize];
  std::snprintf(message, sizeof message, format.c_str(), number);
  return port.ShowMessage(owner, kClassName, message, MessageIcon::kInformation);
}

int ShowWarningText(StatusPort& port, Owner owner, std::string_view text) {
  return port.ShowMessage(owner, kClassName, text.substr(0, kTextBufferSize - 1),
                          MessageIcon::kWarning);
}

}  // namespace zemlo
