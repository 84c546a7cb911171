#include "windows/host_block.h"

namespace vistrel {

HostBlock HostBlock::allocate(std::size_t bytes) noexcept {
    // malloc(0) may return null; a zero-sized block still has to be a real block that
    // the host can release, so ask for at least one byte.
    auto* p = static_cast<std::uint8_t*>(std::malloc(bytes != 0 ? bytes : 1));
    return p != nullptr ? HostBlock(p, bytes) : HostBlock();
}

HostBlock HostBlock::allocateZeroed(std::size_t bytes) noexcept {
    auto* p = static_cast<std::uint8_t*>(std::calloc(bytes != 0 ? bytes : 1, 1));
    return p != nullptr ? HostBlock(p, bytes) : HostBlock();
}

RgbaImage makePlaceholder() noexcept {
    RgbaImage image;
    image.pixels = HostBlock::allocateZeroed(kPlaceholderBytes);
    image.width = kPlaceholderSide;
    image.height = kPlaceholderSide;
    return image;
}

std::uint8_t* handOver(RgbaImage image, std::uint32_t* width, std::uint32_t* height,
                       std::uint32_t* size) noexcept {
    if (!image.pixels) {
        image = makePlaceholder();
    }
    if (width != nullptr) {
        *width = image.width;
    }
    if (height != nullptr) {
        *height = image.height;
    }
    if (size != nullptr) {
        // Even when the placeholder itself cannot be allocated the outputs describe it;
        // the host then sees a null buffer, the only thing left to give.
        *size = image.pixels ? static_cast<std::uint32_t>(image.pixels.size()) : kPlaceholderBytes;
    }
    return image.pixels.release();
}

}  // namespace vistrel
