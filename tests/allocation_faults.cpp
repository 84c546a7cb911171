#include "tests/allocation_faults.h"

#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZEPHRA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZEPHRA_SANITIZED 1
#endif
#endif

namespace {

// Initial-exec thread locals of the program itself: reading them never allocates,
// which matters inside malloc.
__thread bool t_armed = false;
__thread bool t_withMalloc = false;
__thread bool t_failed = false;
__thread uint64_t t_count = 0;
__thread uint64_t t_failAt = 0;
__thread uint64_t t_lastCount = 0;
__thread bool t_lastFailed = false;

// True when this allocation is the one to fail.
bool failThisOne() noexcept {
    if (!t_armed) {
        return false;
    }
    ++t_count;
    if (t_count == t_failAt) {
        t_failed = true;
        return true;
    }
    return false;
}

[[maybe_unused]] bool failThisMalloc() noexcept { return t_withMalloc && failThisOne(); }

}  // namespace

#ifndef ZEPHRA_SANITIZED
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);

void* malloc(size_t size) { return failThisMalloc() ? nullptr : __libc_malloc(size); }
void* calloc(size_t count, size_t size) {
    return failThisMalloc() ? nullptr : __libc_calloc(count, size);
}
void* realloc(void* block, size_t size) {
    return failThisMalloc() ? nullptr : __libc_realloc(block, size);
}
}
#endif

namespace {

// operator new's own allocation; without a sanitizer it goes past the counting malloc
// above so that each new counts once.
void* rawAllocate(size_t size) noexcept {
#ifndef ZEPHRA_SANITIZED
    return __libc_malloc(size != 0 ? size : 1);
#else
    return std::malloc(size != 0 ? size : 1);
#endif
}

void* allocateOrThrow(size_t size) {
    void* p = failThisOne() ? nullptr : rawAllocate(size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

void* allocateOrNull(size_t size) noexcept { return failThisOne() ? nullptr : rawAllocate(size); }

void* allocateAligned(size_t size, std::align_val_t alignment) noexcept {
    if (failThisOne()) {
        return nullptr;
    }
    void* p = nullptr;
    const size_t align = static_cast<size_t>(alignment) < sizeof(void*) ? sizeof(void*)
                                                                        : static_cast<size_t>(alignment);
    return posix_memalign(&p, align, size != 0 ? size : 1) == 0 ? p : nullptr;
}

}  // namespace

void* operator new(size_t size) { return allocateOrThrow(size); }
void* operator new[](size_t size) { return allocateOrThrow(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return allocateOrNull(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return allocateOrNull(size); }
void* operator new(size_t size, std::align_val_t alignment) {
    void* p = allocateAligned(size, alignment);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
void* operator new[](size_t size, std::align_val_t alignment) { return operator new(size, alignment); }
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocateAligned(size, alignment);
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocateAligned(size, alignment);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { std::free(p); }

namespace zephra::testing {

void armAllocationFailure(uint64_t failAt, AllocationKinds kinds) noexcept {
    t_withMalloc = kinds == AllocationKinds::operatorNewAndMalloc;
    t_count = 0;
    t_failAt = failAt;
    t_failed = false;
    t_armed = true;
}

AllocationCount disarmAllocationFailure() noexcept {
    if (t_armed) {
        t_armed = false;
        t_lastCount = t_count;
        t_lastFailed = t_failed;
    }
    return lastAllocationCount();
}

void pauseAllocationFailure() noexcept { t_armed = false; }
void resumeAllocationFailure() noexcept { t_armed = true; }

AllocationCount lastAllocationCount() noexcept { return AllocationCount{t_lastCount, t_lastFailed}; }

bool allocationFaultsCoverMalloc() noexcept {
#ifndef ZEPHRA_SANITIZED
    return true;
#else
    return false;
#endif
}

}  // namespace zephra::testing
