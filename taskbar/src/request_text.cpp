#include "taskbar/src/request_text.h"

#include <string_view>

#include "platform/utf.h"

namespace taskbar {
namespace {

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

bool surrogatesArePaired(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isHighSurrogate(text[i])) {
            if (i + 1 == text.size() || !isLowSurrogate(text[i + 1])) {
                return false;
            }
            ++i;
        } else if (isLowSurrogate(text[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string requestToJavaText(const unsigned char* data, std::size_t size) {
    std::u16string units;
    units.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        // Little-endian on the wire whatever this machine's byte order is.
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0) {
            break;
        }
        units.push_back(unit);
    }
    if (!surrogatesArePaired(units)) {
        return {};
    }
    return platform::utf16ToModifiedUtf8(units);
}

}  // namespace taskbar
