// A move-only owner for one handle with one release function.
#pragma once

#include <utility>

namespace platform {

// Traits supply the handle type, its empty value and its release function:
//   struct FileTraits {
//       using Handle = int;
//       static constexpr Handle empty() noexcept { return -1; }
//       static void close(Handle h) noexcept { ::close(h); }
//   };
//   using UniqueFd = UniqueResource<FileTraits>;
// Each kind of resource gets its own traits and so its own type: one release
// function per type, never a guess at runtime.
template <typename Traits>
class UniqueResource {
public:
    using Handle = typename Traits::Handle;

    UniqueResource() noexcept = default;
    explicit UniqueResource(Handle handle) noexcept : m_handle(handle) {}
    ~UniqueResource() { reset(); }

    UniqueResource(UniqueResource&& other) noexcept : m_handle(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    Handle get() const noexcept { return m_handle; }
    bool valid() const noexcept { return m_handle != Traits::empty(); }
    explicit operator bool() const noexcept { return valid(); }

    Handle release() noexcept { return std::exchange(m_handle, Traits::empty()); }
    void reset(Handle handle = Traits::empty()) noexcept {
        Handle old = std::exchange(m_handle, handle);
        if (old != Traits::empty()) {
            Traits::close(old);
        }
    }

private:
    Handle m_handle = Traits::empty();
};

}  // namespace platform
