// Platform-independent part of DynamicLibrary.
#include "platform/dynamic_library.h"

#include <utility>

namespace platform {

DynamicLibrary::~DynamicLibrary() { reset(); }

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        reset();
        m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
}

void* DynamicLibrary::release() noexcept { return std::exchange(m_handle, nullptr); }

}  // namespace platform
