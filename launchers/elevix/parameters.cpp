#include "launchers/elevix/parameters.h"

#include <cwchar>

namespace elevix {

std::wstring joinParameters(std::span<const wchar_t* const> arguments) {
    // Size the text once from what the arguments need, so even a command line at the
    // system's limit is passed on whole.
    std::size_t length = arguments.empty() ? 0 : arguments.size() - 1;
    for (const wchar_t* argument : arguments) {
        length += std::wcslen(argument);
    }
    std::wstring text;
    text.reserve(length);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i != 0) {
            text += L' ';
        }
        text += arguments[i];
    }
    return text;
}

}  // namespace elevix
