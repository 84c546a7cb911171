// Stand-in for the profiler hook that the module's threads register with: nothing to
// register with in this build.
#pragma once

class AutoRegisterProfiler {
public:
    AutoRegisterProfiler(const char* /*name*/, char* /*stackTop*/) {}
};
