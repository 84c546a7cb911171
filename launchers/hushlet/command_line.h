// What Hushlet relays of its own command line.
#pragma once

#include <string_view>

namespace hushlet {

// The arguments part of a full command line: what follows the program name (quoted
// or not) and the blanks after it, verbatim, quotes and inner spacing kept.
std::u16string_view argumentsOf(std::u16string_view commandLine);

}  // namespace hushlet
