// How far apart two words are as typing goes: the fewest letters added, dropped or changed,
// or pairs of neighbours swapped, that turn one into the other. For guessing what a mistyped
// word was meant to be.
#pragma once

#include <cstddef>
#include <string_view>

namespace zemlo {

std::size_t EditDistance(std::string_view a, std::string_view b);

}  // namespace zemlo
