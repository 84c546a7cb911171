// The virtual machine double itself: a JNI function it does not implement stops the
// test with that function's name (the slot names follow the JDK's jni.h), and calls
// into Java are recorded with their arguments.
#include <gtest/gtest.h>

#include "tests/support/test_jvm.h"

namespace zephra_test {
namespace {

TEST(TestJvmDeathTest, UnimplementedFunctionsStopWithTheirNames) {
    JNIEnv* env = testJvm().env();
    JavaVM* vm = testJvm().vm();
    EXPECT_DEATH(env->GetVersion(), "GetVersion, slot 4 of the JNIEnv table");
    EXPECT_DEATH(env->MonitorEnter(nullptr), "MonitorEnter, slot 217 of the JNIEnv table");
    EXPECT_DEATH(env->GetModule(nullptr), "GetModule, slot 233 of the JNIEnv table");
    EXPECT_DEATH(vm->DestroyJavaVM(), "DestroyJavaVM, slot 3 of the JavaVM table");
}

TEST(TestJvmTest, RecordsConstructorsAndCallsWithTheirArguments) {
    TestJvm& jvm = testJvm();
    JNIEnv* env = jvm.env();
    jvm.clearCalls();
    jclass cls = env->FindClass("com/example/Thing");
    jmethodID init = env->GetMethodID(cls, "<init>", "()V");
    jmethodID set = env->GetMethodID(cls, "set", "(IZLjava/lang/String;[B)V");
    jobject thing = env->NewObject(cls, init);
    const jbyte bytes[3] = {1, 2, 3};
    env->CallVoidMethod(thing, set, 42, JNI_TRUE, env->NewStringUTF("h\xc3\xa9"),
                        jvm.newByteArray(bytes, 3));
    const std::vector<JavaCall> calls = jvm.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].method, "<init>");
    EXPECT_EQ(calls[1].target, calls[0].target);
    EXPECT_EQ(calls[1].args, (std::vector<std::string>{"42", "true", "h\xc3\xa9", "byte[3]"}));
    EXPECT_EQ(calls[1].bytes, (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(calls[1].text, u"h\u00e9");
}

}  // namespace
}  // namespace zephra_test
