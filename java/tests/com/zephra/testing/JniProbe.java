package com.zephra.testing;

/** Native methods of the JNI harness check library (zephra_jni_probe). */
public final class JniProbe {
    static {
        System.loadLibrary("zephra_jni_probe");
    }

    private JniProbe() {}

    /** Returns the text as the native side sees it, converted back to Java. */
    public static native String roundTrip(String text);

    /** Calls {@code callback.accept(value)} from native code {@code times} times. */
    public static native int callBack(java.util.function.IntConsumer callback, int times);

    /** Takes a global reference to {@code object} and drops it on a thread not attached to the VM. */
    public static native void dropOnUnattachedThread(Object object);
}
