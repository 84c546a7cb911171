// The image views mapped into this process, counted from the address space itself.
#pragma once

#include <cstddef>

namespace taskbar_test {

// Walks the address space with VirtualQuery and counts the image mappings (MEM_IMAGE
// regions that start their allocation): the loaded modules and every library mapped
// as an image resource.
std::size_t mappedImageViews();

}  // namespace taskbar_test
