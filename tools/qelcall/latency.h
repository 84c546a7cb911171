// Mouth-to-ear delay of a call through an echo service: the first click of the
// microphone against the first click heard.
#pragma once

#include <vector>

namespace qelcall {

// Milliseconds between the first sample of `sent` and of `heard` whose magnitude
// reaches half of that signal's peak (each at least 0.05), or -1 when either has none
// or the heard click comes first.
double clickLatencyMs(const std::vector<float>& sent, const std::vector<float>& heard, int rate);

}  // namespace qelcall
