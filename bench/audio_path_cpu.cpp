// CPU of the voice path per second of call audio, as a plain program that runs in
// every build: natively, and the Windows builds under Wine (bench/wine_audio_cpu.sh
// runs them side by side). The path is compute only (no system call in the loop), so
// Wine adds nothing to it and the figures compare the compilers' code for each target.
//
//   audio_path_cpu [SECONDS]      (default 20 s of call audio, after 2 s of warm-up)
//
// Prints "cpu_ms_per_audio_s <ms>" (process CPU) and "wall_ms_per_audio_s <ms>".
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "bench/call_second.h"
#include "platform/clock.h"

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: audio_path_cpu [SECONDS]   e.g. audio_path_cpu 20\n");
        return 2;
    }
    bench::CallSecond call;
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
