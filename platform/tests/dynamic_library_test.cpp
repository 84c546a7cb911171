#include <gtest/gtest.h>

#include <string>

#include "platform/dynamic_library.h"

namespace {

using platform::DynamicLibrary;

std::string pluginPath() {
    // Tests run in the test output directory, beside the plugin.
    return "./" + platform::sharedLibraryFileName("platform_test_plugin");
}

TEST(DynamicLibrary, LoadsAndCallsAnExport) {
    std::string error;
    DynamicLibrary lib = DynamicLibrary::open(pluginPath(), &error);
    ASSERT_TRUE(lib) << error;
    using Fn = int (*)(int);
    auto fn = reinterpret_cast<Fn>(lib.symbol("pluginAnswer"));
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(fn(20), 41);
    EXPECT_EQ(lib.symbol("noSuchExport"), nullptr);
}

TEST(DynamicLibrary, MissingLibraryReportsAReason) {
    std::string error;
    DynamicLibrary lib = DynamicLibrary::open("./no-such-library-here", &error);
    EXPECT_FALSE(lib);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(lib.symbol("pluginAnswer"), nullptr);
}

TEST(DynamicLibrary, MoveTransfersOwnership) {
    DynamicLibrary a = DynamicLibrary::open(pluginPath());
    ASSERT_TRUE(a);
    DynamicLibrary b = std::move(a);
    EXPECT_FALSE(a);  // NOLINT(bugprone-use-after-move): checking the moved-from state
    EXPECT_TRUE(b);
    EXPECT_NE(b.symbol("pluginAnswer"), nullptr);
}

}  // namespace
