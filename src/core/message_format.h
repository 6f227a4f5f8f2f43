// The formats of the message boxes, typed by what they take: a TextFormat holds exactly one
// %s, a NumberFormat exactly one integer conversion (%i, %d, %u or %x). Both are made from a
// string literal at compile time and checked there, so a format cannot meet the wrong
// argument: ShowWarning takes only the first kind, ShowWarningNumber only the second, and a
// "%s" handed to snprintf with an int never gets built.
#pragma once

#include <string_view>

namespace zemlo {

enum class FormatArgument { kNone, kText, kNumber, kBad };

// What the one conversion in `format` takes: kNone without any ("%%" is no conversion), kBad
// for more than one, for flags, widths or lengths, or a conversion other than those above.
constexpr FormatArgument ArgumentOf(std::string_view format) {
  FormatArgument found = FormatArgument::kNone;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    if (++i == format.size()) return FormatArgument::kBad;
    if (format[i] == '%') continue;
    FormatArgument here = FormatArgument::kBad;
    if (format[i] == 's') here = FormatArgument::kText;
    if (format[i] == 'i' || format[i] == 'd' || format[i] == 'u' || format[i] == 'x') {
      here = FormatArgument::kNumber;
    }
    if (here == FormatArgument::kBad || found != FormatArgument::kNone) {
      return FormatArgument::kBad;
    }
    found = here;
  }
  return found;
}

class TextFormat {
 public:
  // Not a constant expression (and so no program) when the literal is no text format.
  consteval TextFormat(const char* format) : format_(format) {  // NOLINT: from the literal
    if (ArgumentOf(format) != FormatArgument::kText) throw "a text format takes one %s";
  }
  constexpr const char* c_str() const { return format_; }

 private:
  const char* format_;
};

class NumberFormat {
 public:
  consteval NumberFormat(const char* format) : format_(format) {  // NOLINT: from the literal
    if (ArgumentOf(format) != FormatArgument::kNumber) {
      throw "a number format takes one %i, %d, %u or %x";
    }
  }
  constexpr const char* c_str() const { return format_; }

 private:
  const char* format_;
};

}  // namespace zemlo
