// Fuzz target: any bytes a pipe client may send become either the empty string or
// modified UTF-8 that decodes back to exactly the client's text before its first zero
// unit, and never reach beyond the bytes that arrived.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "taskbar/src/request_text.h"

namespace {

[[noreturn]] void fail() { std::abort(); }

// Strict decoder of the modified UTF-8 JNI accepts: one to three bytes per unit, no
// zero byte, no four-byte forms, no overlong forms except C0 80 (which the request
// text cannot contain, as it ends at the first zero unit).
std::u16string decodeModifiedUtf8(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        auto continuation = [&](std::size_t k) {
            if (i + k >= text.size()) {
                fail();
            }
            const auto b = static_cast<unsigned char>(text[i + k]);
            if ((b & 0xC0) != 0x80) {
                fail();
            }
            return static_cast<char16_t>(b & 0x3F);
        };
        if (b0 == 0) {
            fail();
        } else if (b0 < 0x80) {
            out.push_back(b0);
            i += 1;
        } else if ((b0 & 0xE0) == 0xC0) {
            const char16_t u = static_cast<char16_t>(((b0 & 0x1F) << 6) | continuation(1));
            if (u < 0x80) {
                fail();
            }
            out.push_back(u);
            i += 2;
        } else if ((b0 & 0xF0) == 0xE0) {
            const char16_t u = static_cast<char16_t>(((b0 & 0x0F) << 12) | (continuation(1) << 6) | continuation(2));
            if (u < 0x800) {
                fail();
            }
            out.push_back(u);
            i += 3;
        } else {
            fail();
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Copy into a buffer of exactly the input's size so that the sanitizer sees any
    // read past what arrived.
    std::vector<unsigned char> request(data, data + size);
    const std::string text = taskbar::requestToJavaText(request.data(), request.size());

    std::u16string sent;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0) {
            break;
        }
        sent.push_back(unit);
    }
    const std::u16string received = decodeModifiedUtf8(text);
    if (received != sent && !received.empty()) {
        fail();
    }
    if (received.empty() && !sent.empty()) {
        // Only text with an unpaired surrogate may be dropped.
        bool unpaired = false;
        for (std::size_t i = 0; i < sent.size(); ++i) {
            const char16_t u = sent[i];
            if (u >= 0xD800 && u <= 0xDBFF && i + 1 < sent.size() && sent[i + 1] >= 0xDC00 && sent[i + 1] <= 0xDFFF) {
                ++i;
            } else if (u >= 0xD800 && u <= 0xDFFF) {
                unpaired = true;
            }
        }
        if (!unpaired) {
            fail();
        }
    }
    return 0;
}
