// The routines through which every subsystem talks to the user: the title, warnings and repaints.
#pragma once

#include <string_view>

#include "core/message_format.h"
#include "core/status_port.h"
#include "core/working_state.h"

namespace zemlo {

inline constexpr std::string_view kClassName = "ZCreate";

// Title "ZCreate - name (status) - number"; "UNTITLED" for an empty name, "OK" for an
// empty status. The text is kept in state.title_text, cut to its 576-byte buffer.
void SetStatusTitle(WorkingState& state, std::string_view name, std::string_view status,
                    int number);
// The same title written into `text` only, for work prepared ahead of its turn.
void FormatStatusTitle(char (&text)[kTextBufferSize], std::string_view name,
                       std::string_view status, int number);

// A warning box with caption "ZCreate": `format` takes one %s ("UNTITLED" when `text` is
// empty) or one integer conversion. Texts are cut to the 576-byte buffer.
int ShowWarning(StatusPort& port, Owner owner, TextFormat format, std::string_view text);
int ShowWarningNumber(StatusPort& port, Owner owner, NumberFormat format, int number);
// The same as an information box: something the user should know, nothing went wrong.
int ShowNoticeNumber(StatusPort& port, Owner owner, NumberFormat format, int number);
// A warning box whose text takes no argument; it is shown as it is.
int ShowWarningText(StatusPort& port, Owner owner, std::string_view text);

// Repaint the main window: invalidate everything (with or without erasing) and update now.
inline void Repaint(StatusPort& port, bool erase) { port.Repaint(erase); }

}  // namespace zemlo
