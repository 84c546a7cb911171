// Blocks of memory from this library's heap: the window lists and pixel buffers handed
// to the host (which gives them back through freeImageBuffer), and the temporary DIB
// headers and bit buffers of a capture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace vistrel {

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};

// Owns one malloc'd block. Allocation never throws: a failed allocation gives an empty
// block, which callers turn into the placeholder image or an empty list.
class HostBlock {
public:
    HostBlock() noexcept = default;

    static HostBlock allocate(std::size_t bytes) noexcept;
    // Zero-filled.
    static HostBlock allocateZeroed(std::size_t bytes) noexcept;

    std::uint8_t* data() const noexcept { return m_data.get(); }
    std::size_t size() const noexcept { return m_size; }
    explicit operator bool() const noexcept { return m_data != nullptr; }

    // Hands the block over; the receiver frees it with std::free (freeImageBuffer).
    std::uint8_t* release() noexcept {
        m_size = 0;
        return m_data.release();
    }

private:
    HostBlock(std::uint8_t* data, std::size_t size) noexcept : m_data(data), m_size(size) {}

    std::unique_ptr<std::uint8_t, FreeDeleter> m_data;
    std::size_t m_size = 0;
};

// A finished picture in the host's RGBA layout.
struct RgbaImage {
    HostBlock pixels;  // pixels.size() is the size reported to the host
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// The picture returned whenever a capture fails: 16 x 16, 1024 bytes, all zero
// (transparent black). A fresh block, released like any other.
inline constexpr std::uint32_t kPlaceholderSide = 16;
inline constexpr std::uint32_t kPlaceholderBytes = kPlaceholderSide * kPlaceholderSide * 4;
RgbaImage makePlaceholder() noexcept;

// Hands a picture to the host: writes the three outputs (those that are not null) and
// returns the buffer. An empty image is replaced by the placeholder first.
std::uint8_t* handOver(RgbaImage image, std::uint32_t* width, std::uint32_t* height,
                       std::uint32_t* size) noexcept;

}  // namespace vistrel
