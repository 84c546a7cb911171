// UTF-8 / UTF-16 conversion, the same on every platform.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Converts UTF-8 to UTF-16. Malformed sequences (bad lead or continuation bytes,
// overlong forms, surrogates encoded in UTF-8, values above U+10FFFF, truncated
// input) become U+FFFD, one per malformed sequence; nothing is dropped silently.
std::u16string utf8ToUtf16(std::string_view utf8);

// Converts UTF-16 to UTF-8; characters outside the Basic Multilingual Plane come from
// surrogate pairs. An unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view utf16);

// Converts UTF-16 to the modified UTF-8 of the JNI (NewStringUTF, GetStringUTFChars):
// U+0000 as the two bytes C0 80, and every surrogate code unit encoded on its own as
// three bytes, so characters outside the BMP travel as surrogate pairs and arrive
// unchanged in Java.
std::string utf16ToModifiedUtf8(std::u16string_view utf16);

}  // namespace platform
