package com.zephra.tallix;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zephra.tallix.devices.AudioDeviceList;
import com.zephra.tallix.host.ReferenceHost;
import org.junit.jupiter.api.Test;

/**
 * Runs in a directory without native/, so the session library cannot be bound: every
 * native method must then give a neutral answer and throw nothing.
 */
class NotInitialisedTest {
    @Test
    void nativeMethodsAreNeutralBeforeAndAfterAFailedInitialisation() {
        ReferenceHost engine = new ReferenceHost();
        for (int round = 0; round < 2; round++) {
            assertNull(engine._getNextLogEntry());
            assertNull(engine._getLibraryVersion());
            assertFalse(engine._isCallInProgress());
            assertFalse(engine._isAecEnabled());
            engine._setCallerId("nobody");
            engine._startCall("1", "127.0.0.1", (short) 1, "echo", null, null, false);
            engine._endCall();
            engine._tcpPacketReceived(new byte[1], 5);
            engine._tcpReadError();
            engine._changeAudioDevices(null, null, true);
            engine._rescanAudioDevices(true);
            long start = System.nanoTime();
            engine._playTestTone(null);
            assertTrue(System.nanoTime() - start < 1_000_000_000L, "no tone without the engine");
            engine._playAudioFile(null, new byte[4], 48000);
            engine._startPlayingSound(null, null, 0);
            engine._stopPlayingSound();
            AudioDeviceList list = new AudioDeviceList();
            engine._listAudioDevices(list);
            assertEquals(0, list.getDevices().size());
            assertFalse(engine._initLibrary());
        }
    }
}
