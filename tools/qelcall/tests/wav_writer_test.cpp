#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/qelcall/wav_file.h"
#include "tools/qelcall/wav_writer.h"

namespace {

namespace fs = std::filesystem;

uint32_t le32At(const std::string& path, std::streamoff offset) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(offset);
    uint8_t b[4] = {};
    in.read(reinterpret_cast<char*>(b), 4);
    return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

// More than the ring holds in one go (a writer that fell behind): what did not fit
// becomes silence, so the file keeps the call's length, and the sizes match the file.
TEST(WavWriter, OverflowBecomesSilenceAndTheFileKeepsItsLength) {
    const std::string path = (fs::temp_directory_path() / (std::to_string(getpid()) + "over.wav")).string();
    const size_t total = qelcall::WavWriter::kRingSamples + 5000;
    std::vector<float> ramp(total);
    for (size_t i = 0; i < total; ++i) ramp[i] = static_cast<float>(i % 100) / 200.0f;
    {
        qelcall::WavWriter writer(path, 48000);
        writer.push(ramp.data(), ramp.size());
        ASSERT_TRUE(writer.finish());
        EXPECT_EQ(writer.samplesHeard(), total);
        EXPECT_EQ(writer.droppedSamples(), 5000u);
        EXPECT_TRUE(writer.finish());  // a second finish changes nothing
    }
    EXPECT_EQ(fs::file_size(path), 44 + 2 * total);
    EXPECT_EQ(le32At(path, 4), 36 + 2 * total);
    EXPECT_EQ(le32At(path, 40), 2 * total);
    std::string error;
    const auto a = qelcall::readWav(path, error);
    ASSERT_TRUE(a) << error;
    ASSERT_EQ(a->samples.size(), total);
    EXPECT_NEAR(a->samples[99], 99 / 200.0f, 1e-3);
    EXPECT_NEAR(a->samples[qelcall::WavWriter::kRingSamples - 1],
                ramp[qelcall::WavWriter::kRingSamples - 1], 1e-3);
    for (size_t i = qelcall::WavWriter::kRingSamples; i < total; ++i) {
        ASSERT_EQ(a->samples[i], 0.0f) << i;
    }
    fs::remove(path);
}

// No audio, no file; a file that cannot be created is reported by finish.
TEST(WavWriter, NothingHeardLeavesNoFileAndAnUnwritablePathFails) {
    const fs::path dir = fs::temp_directory_path() / (std::to_string(getpid()) + "none");
    fs::create_directories(dir);
    {
        qelcall::WavWriter writer((dir / "quiet.wav").string(), 48000);
        EXPECT_TRUE(writer.finish());
    }
    EXPECT_FALSE(fs::exists(dir / "quiet.wav"));
    qelcall::WavWriter writer((dir / "missing" / "x.wav").string(), 48000);
    const float one[4] = {0.5f, 0.5f, 0.5f, 0.5f};
    writer.push(one, 4);
    EXPECT_FALSE(writer.finish());
    EXPECT_EQ(writer.samplesHeard(), 4u);
    EXPECT_NEAR(writer.rms(), 0.5, 1e-6);
    fs::remove_all(dir);
}

}  // namespace
