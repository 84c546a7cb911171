#include "mapped_views.h"

#include <windows.h>

namespace taskbar_test {

std::size_t mappedImageViews() {
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    auto* at = static_cast<char*>(system.lpMinimumApplicationAddress);
    auto* const end = static_cast<char*>(system.lpMaximumApplicationAddress);
    std::size_t views = 0;
    MEMORY_BASIC_INFORMATION region{};
    while (at < end && VirtualQuery(at, &region, sizeof region) == sizeof region) {
        if (region.Type == MEM_IMAGE && region.BaseAddress == region.AllocationBase) {
            ++views;
        }
        at = static_cast<char*>(region.BaseAddress) + region.RegionSize;
    }
    return views;
}

}  // namespace taskbar_test
