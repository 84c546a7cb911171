package com.zephra.tallix;

import static org.junit.jupiter.api.Assertions.assertDoesNotThrow;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zephra.tallix.TallixSupport.QelServer;
import com.zephra.tallix.exceptions.CallInProgressException;
import com.zephra.tallix.exceptions.DeviceNotFoundException;
import com.zephra.tallix.exceptions.TallixException;
import com.zephra.tallix.host.ReferenceHost;
import java.io.File;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/** Test tone, sound clips and device rescans through the JNI methods, on the sound server. */
class SoundTest {
    private final ReferenceHost engine = TallixSupport.engine();

    /** 16-bit mono samples in native byte order, as the host hands them over. */
    static byte[] clip(int samples, int level) {
        ByteBuffer bytes = ByteBuffer.allocate(samples * 2).order(ByteOrder.nativeOrder());
        for (int i = 0; i < samples; i++) {
            bytes.putShort((short) (i % 48 < 24 ? level : -level));
        }
        return bytes.array();
    }

    static int threadCount() {
        String[] tasks = new File("/proc/self/task").list();
        return tasks == null ? -1 : tasks.length;
    }

    @AfterEach
    void quiet() throws InterruptedException {
        engine._stopPlayingSound();
        if (engine._isCallInProgress()) {
            engine._endCall();
        }
        TallixSupport.awaitIdle();
        while (engine.nextEvent(0) != null) {
            // events of a finished test
        }
    }

    @Test
    void testToneBlocksForItsTwoSeconds() {
        long start = System.nanoTime();
        engine._playTestTone(null);
        long elapsedMs = (System.nanoTime() - start) / 1_000_000;
        assertTrue(elapsedMs >= 2000 && elapsedMs < 4000, elapsedMs + " ms");
        // The stream is gone with the tone: a sound can start at once.
        engine._startPlayingSound(null, clip(480, 1000), 48000);
    }

    @Test
    void oneShotClipFreesTheSlotByItself() throws InterruptedException {
        engine._playAudioFile(null, clip(2400, 2000), 48000);
        // While it plays, another sound is refused; once it has ended, one starts.
        CallInProgressException busy = assertThrows(CallInProgressException.class,
                () -> engine._startPlayingSound(null, clip(10, 1), 48000));
        assertEquals("Cannot play sound - call in progress", busy.getMessage());
        boolean started = false;
        for (int i = 0; i < 100 && !started; i++) {
            Thread.sleep(50);
            try {
                engine._playAudioFile(null, new byte[] {1, 2, 3}, 48000);  // odd length
                started = true;
            } catch (CallInProgressException stillPlaying) {
                // not yet ended
            }
        }
        assertTrue(started, "the one-shot clip never left its slot");
    }

    @Test
    void badClipsAndKeysAreRefusedWithTheirExceptions() {
        assertDoesNotThrow(engine::_stopPlayingSound);  // nothing playing
        TallixException e = assertThrows(TallixException.class, () -> engine._playAudioFile(null, null, 48000));
        assertEquals("Unexpected error while playing sound", e.getMessage());
        e = assertThrows(TallixException.class, () -> engine._startPlayingSound(null, clip(10, 1), 0));
        assertEquals("Unexpected error while playing sound", e.getMessage());
        DeviceNotFoundException missing = assertThrows(DeviceNotFoundException.class,
                () -> engine._startPlayingSound("No such device", clip(10, 1), 48000));
        assertEquals("Cannot find device to play sound", missing.getMessage());
        missing = assertThrows(DeviceNotFoundException.class, () -> engine._playTestTone("No such device"));
        assertEquals("Cannot find device to play test tone", missing.getMessage());
        assertTrue(TallixSupport.logged("SEVERE", "Refused sound clip"));
    }

    @Test
    void rescanRefusesOrRestartsWhatIsOpen() {
        assertDoesNotThrow(() -> engine._rescanAudioDevices(false));
        assertFalse(engine.listDevices().isEmpty());
        engine._startPlayingSound(null, clip(4800, 1000), 48000);
        CallInProgressException e = assertThrows(CallInProgressException.class,
                () -> engine._rescanAudioDevices(false));
        assertEquals("Cannot rescan devices - call in progress", e.getMessage());
        engine._rescanAudioDevices(true);
        // Still playing after the restart: a second sound is refused.
        assertThrows(CallInProgressException.class, () -> engine._playAudioFile(null, clip(10, 1), 48000));
        engine._stopPlayingSound();
        engine._playAudioFile(null, clip(10, 1), 48000);
    }

    @Test
    void duringACallToneSoundAndPlainRescanAreRefusedButARestartKeepsTheCall() throws Exception {
        try (QelServer server = new QelServer()) {
            engine._startCall("31", "127.0.0.1", server.tcpPort, "echo", null, null, false);
            assertEquals("started 31", engine.nextEvent(10000));
            CallInProgressException e = assertThrows(CallInProgressException.class, () -> engine._playTestTone(null));
            assertEquals("Cannot play test tone - call in progress", e.getMessage());
            e = assertThrows(CallInProgressException.class, () -> engine._playAudioFile(null, clip(10, 1), 48000));
            assertEquals("Cannot play sound - call in progress", e.getMessage());
            assertThrows(CallInProgressException.class, () -> engine._rescanAudioDevices(false));

            engine._rescanAudioDevices(true);
            Thread.sleep(300);
            assertTrue(engine._isCallInProgress());
            assertThrows(CallInProgressException.class, () -> engine._playTestTone(null));  // reopened
            engine._endCall();
            assertEquals("ended 31", engine.nextEvent(10000));
        }
    }

    @Test
    void hundredsOfStartsStopsAndRescansLeakNoThread() throws InterruptedException {
        byte[] sound = clip(960, 1000);
        engine._startPlayingSound(null, sound, 48000);  // the clean-up thread starts once
        engine._stopPlayingSound();
        Thread.sleep(200);
        int threads = threadCount();
        for (int round = 0; round < 100; round++) {
            engine._startPlayingSound(null, sound, 48000);
            engine._stopPlayingSound();
            engine._rescanAudioDevices(false);  // throws if any stream were left open
        }
        for (int i = 0; i < 50 && threadCount() > threads; i++) {
            Thread.sleep(100);
        }
        assertTrue(threadCount() <= threads, threadCount() + " threads, " + threads + " before");
    }
}
