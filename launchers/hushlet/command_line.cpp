#include "launchers/hushlet/command_line.h"

namespace hushlet {
namespace {

bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

std::u16string_view argumentsOf(std::u16string_view commandLine) {
    std::size_t i = 0;
    if (!commandLine.empty() && commandLine[0] == u'"') {
        // A quoted program name ends at the next quote; blanks inside it belong to it.
        const std::size_t close = commandLine.find(u'"', 1);
        i = close == std::u16string_view::npos ? commandLine.size() : close + 1;
    } else {
        while (i < commandLine.size() && !isBlank(commandLine[i])) {
            ++i;
        }
    }
    while (i < commandLine.size() && isBlank(commandLine[i])) {
        ++i;
    }
    return commandLine.substr(i);
}

}  // namespace hushlet
