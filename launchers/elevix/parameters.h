// The parameter text that Elevix hands to the program it starts.
#pragma once

#include <span>
#include <string>

namespace elevix {

// Joins the arguments in order, one space between neighbours, adding no quotes: an
// argument that held spaces reaches the started program as several words, which is
// what callers of the launcher have always relied on. No arguments give the empty
// text. The result is as long as the arguments need; nothing is cut off.
std::wstring joinParameters(std::span<const wchar_t* const> arguments);

}  // namespace elevix
