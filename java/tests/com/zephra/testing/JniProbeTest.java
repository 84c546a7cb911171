package com.zephra.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.lang.ref.WeakReference;

import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.Test;

class JniProbeTest {
    @Test
    void textCrossesTheNativeBoundaryUnchanged() {
        String text = "caf\u00e9 \u20ac \ud83c\udfb5 \u0000 end";
        assertEquals(text, JniProbe.roundTrip(text));
    }

    @Test
    void nativeCodeCallsBackIntoJava() {
        List<Integer> seen = new ArrayList<>();
        assertEquals(3, JniProbe.callBack(seen::add, 3));
        assertEquals(List.of(0, 1, 2), seen);
    }

    @Test
    void globalReferenceDroppedOnAnUnattachedThreadIsDeleted() throws InterruptedException {
        Object object = new Object();
        WeakReference<Object> weak = new WeakReference<>(object);
        JniProbe.dropOnUnattachedThread(object);
        object = null;
        // Only a global reference the native side failed to delete keeps it alive.
        for (int i = 0; i < 50 && weak.get() != null; ++i) {
            System.gc();
            Thread.sleep(20);
        }
        assertTrue(weak.get() == null, "the global reference was not deleted");
    }
}
