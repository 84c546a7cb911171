#include "windows/dib_layout.h"

namespace vistrel {

std::uint32_t roundDibDepth(std::uint32_t planesTimesBits) noexcept {
    if (planesTimesBits <= 1) {
        return 1;
    }
    for (std::uint32_t depth : {4u, 8u, 16u, 24u}) {
        if (planesTimesBits <= depth) {
            return depth;
        }
    }
    return 32;
}

std::uint64_t dibRowBytes(std::uint32_t depth, std::uint32_t width) noexcept {
    return (std::uint64_t{depth} * width + 31) / 32 * 4;
}

std::optional<std::uint32_t> dibImageBytes(std::uint32_t depth, std::uint32_t width,
                                           std::uint32_t height) noexcept {
    const std::uint64_t row = dibRowBytes(depth, width);
    // Checked by division so that the product is never formed when it would be too big.
    if (height != 0 && row > kMaxImageBytes / height) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(row * height);
}

std::uint32_t dibColourEntries(std::uint32_t depth) noexcept {
    return depth < 24 ? (1u << depth) : 0;
}

std::optional<std::uint32_t> rgbaBufferBytes(std::uint32_t depth, std::uint32_t width,
                                             std::uint32_t height) noexcept {
    const std::optional<std::uint32_t> image = dibImageBytes(depth, width, height);
    if (!image) {
        return std::nullopt;
    }
    if (depth == 32) {
        return image;
    }
    if (depth == 16 && *image <= kMaxImageBytes / 2) {
        return *image * 2;
    }
    return std::nullopt;
}

}  // namespace vistrel
