// Replay driver for fuzz targets in builds without libFuzzer: feeds every file named
// on the command line (or every file of a named directory), then a fixed number of
// random inputs from a printed seed, to LLVMFuzzerTestOneInput.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void runFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    size_t files = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p)) {
            for (const auto& entry : std::filesystem::directory_iterator(p)) {
                if (entry.is_regular_file()) {
                    runFile(entry.path());
                    ++files;
                }
            }
        } else {
            runFile(p);
            ++files;
        }
    }
    const char* seedText = std::getenv("FUZZ_SEED");
    const uint32_t seed = seedText ? static_cast<uint32_t>(std::strtoul(seedText, nullptr, 10)) : 12345u;
    std::mt19937 rng(seed);
    constexpr int kRandomRuns = 5000;
    std::vector<uint8_t> buf;
    for (int run = 0; run < kRandomRuns; ++run) {
        buf.resize(rng() % 4096);
        for (auto& b : buf) {
            b = static_cast<uint8_t>(rng());
        }
        LLVMFuzzerTestOneInput(buf.data(), buf.size());
    }
    std::printf("replayed %zu files and %d random inputs (FUZZ_SEED=%u)\n", files, kRandomRuns, seed);
    return 0;
}
