// CPU of the voice path per second of call audio, as a plain program that runs in
// every build: natively, and the Windows builds under Wine (bench/wine_audio_cpu.sh
// runs them side by side). The path is compute only (no system call in the loop), so
// Wine adds nothing to it and the figures compare the compilers' code for each target.
//
//   audio_path_cpu [SECONDS] [--no-processing]
//
// SECONDS of call audio (default 20), after 2 s of warm-up; --no-processing turns echo
// cancellation, gain control and noise suppression off, which leaves the codec, jitter
// buffer, converters and cipher.
//
// Prints "cpu_ms_per_audio_s <ms>" (process CPU) and "wall_ms_per_audio_s <ms>".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/call_second.h"
#include "platform/clock.h"

int main(int argc, char** argv) {
    int seconds = 20;
    bool processing = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-processing") == 0) {
            processing = false;
        } else {
            seconds = std::atoi(argv[i]);
        }
    }
    if (seconds <= 0) {
        std::fprintf(
            stderr, "usage: audio_path_cpu [SECONDS] [--no-processing]   e.g. audio_path_cpu 20\n");
        return 2;
    }
    bench::CallSecond call(processing);
    volatile float sink = 0;
    for (int i = 0; i < 2; ++i) {
        sink = sink + call.second();
    }
    const uint64_t cpuStart = platform::processCpuMicroseconds();
    const auto wallStart = std::chrono::steady_clock::now();
    for (int i = 0; i < seconds; ++i) {
        sink = sink + call.second();
    }
    const uint64_t cpu = platform::processCpuMicroseconds() - cpuStart;
    const auto wall =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart);
    std::printf("audio_s %d\ncpu_ms_per_audio_s %.2f\nwall_ms_per_audio_s %.2f\n", seconds,
                static_cast<double>(cpu) / 1000.0 / seconds, wall.count() / seconds);
    return 0;
}
