// The text of a command pipe request, as it is handed to the Java host.
#pragma once

#include <cstddef>
#include <string>

namespace taskbar {

// A request is at most this many bytes: UTF-16LE text and its terminating zero unit.
inline constexpr std::size_t kMaxRequestBytes = 8192;

// Converts the request that arrived as `size` bytes at `data` into the modified UTF-8
// that JNI's NewStringUTF expects. The text ends at its first zero unit or where the
// bytes that arrived end (an odd last byte is not a unit), never further: a reused
// request buffer still holds an earlier, longer request behind a short one.
// Characters outside the Basic Multilingual Plane travel as their surrogate pair and
// arrive in Java unchanged. Text holding an unpaired surrogate is not text the client
// could have meant; it is delivered as the empty string.
std::string requestToJavaText(const unsigned char* data, std::size_t size);

}  // namespace taskbar
