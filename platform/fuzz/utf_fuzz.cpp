// Fuzz target for the UTF conversions: any byte string converts without fault, and
// UTF-8 that survives a round trip unchanged is exactly what re-encodes to itself.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/utf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    const std::u16string wide = platform::utf8ToUtf16(in);
    const std::string back = platform::utf16ToUtf8(wide);
    // The output of a conversion is always valid: converting it again is lossless.
    if (platform::utf16ToUtf8(platform::utf8ToUtf16(back)) != back) {
        std::abort();
    }
    // Every UTF-16 code unit of a valid UTF-8 string needs at most 3 bytes.
    if (back.size() > wide.size() * 3) {
        std::abort();
    }
    // The modified form never contains a NUL byte, whatever the input.
    std::u16string units(size / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    if (platform::utf16ToModifiedUtf8(units).find('\0') != std::string::npos) {
        std::abort();
    }
    return 0;
}
