// Allocation failures on purpose, for tests of what the code does when memory runs
// out. A test program that links allocation_faults.cpp gets its own global operator
// new and delete (and, in builds without a sanitizer, which owns malloc there, its own
// malloc, calloc and realloc). While armed on a thread they count that thread's
// allocations and fail the chosen one: operator new throws std::bad_alloc (the nothrow
// forms return null), malloc returns null. Other threads are never affected.
//
// The usual sweep: count the allocations of a good run, then run again failing the
// first, the second, ... up to that count.
#pragma once

#include <cstdint>

namespace zephra::testing {

// What is counted and failed: operator new only, or malloc, calloc and realloc as well
// (where allocationFaultsCoverMalloc() says the build can). The C libraries below the
// session library allocate with malloc, and not all of them check the result (the
// WebRTC module's VAD set-up writes through a failed malloc), so failing malloc is kept
// to code paths that are the system's own.
enum class AllocationKinds { operatorNew, operatorNewAndMalloc };

// Starts counting this thread's allocations; the one numbered `failAt` (from 1) fails,
// and only that one. 0 counts without failing.
void armAllocationFailure(uint64_t failAt,
                          AllocationKinds kinds = AllocationKinds::operatorNew) noexcept;

struct AllocationCount {
    uint64_t allocations = 0;  // counted while armed
    bool failed = false;       // whether the chosen one was reached and failed
};
// Stops counting on this thread (nothing happens when it was not counting).
AllocationCount disarmAllocationFailure() noexcept;
// Stop and go on counting, keeping the count: for set-up inside a sweep's body.
void pauseAllocationFailure() noexcept;
void resumeAllocationFailure() noexcept;

// What the latest disarm that stopped a count saw.
AllocationCount lastAllocationCount() noexcept;

// True when this build also fails malloc, calloc and realloc (not only operator new).
bool allocationFaultsCoverMalloc() noexcept;

// Runs `body` armed once counting, then once per allocation it made, failing that one.
// `body` disarms itself right after the operation under test (so that its checks are
// not counted); the sweep disarms after it otherwise. Returns the good run's count.
template <typename Body>
uint64_t sweepAllocationFailures(Body&& body, AllocationKinds kinds = AllocationKinds::operatorNew) {
    armAllocationFailure(0, kinds);
    body();
    disarmAllocationFailure();
    const uint64_t total = lastAllocationCount().allocations;
    for (uint64_t n = 1; n <= total; ++n) {
        armAllocationFailure(n, kinds);
        body();
        disarmAllocationFailure();
    }
    return total;
}

}  // namespace zephra::testing
