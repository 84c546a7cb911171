// A shared library with one plain export, loaded by the dynamic-loading test.
#ifdef _WIN32
#define PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

PLUGIN_EXPORT int pluginAnswer(int x) { return x * 2 + 1; }
