package com.zephra.tallix;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zephra.tallix.devices.AudioDevice;
import com.zephra.tallix.exceptions.DeviceNotFoundException;
import com.zephra.tallix.host.ReferenceHost;
import java.util.List;
import java.util.logging.Level;
import java.util.logging.LogRecord;
import org.junit.jupiter.api.Test;

/** The engine in a real JVM on the real session library and the real sound server. */
class EngineTest {
    private final ReferenceHost engine = TallixSupport.engine();

    @Test
    void listsTheSoundServersDevicesWithKeysThatNameThem() {
        List<AudioDevice> devices = engine.listDevices();
        assertFalse(devices.isEmpty());
        AudioDevice defaultDevice = null;
        for (int i = 0; i < devices.size(); i++) {
            AudioDevice d = devices.get(i);
            assertEquals(i, d.getId());
            String expected = String.format("%s|%02d|", d.getName(), i);
            assertTrue(d.getKey().startsWith(expected), d.getKey());
            assertTrue(d.getKey().matches(".*\\|\\d{2,}\\|\\d{2,}\\|\\d{2,}"), d.getKey());
            if (d.getName().equals("default")) {
                defaultDevice = d;
            }
        }
        assertNotNull(defaultDevice, "the sound server's ALSA default device");
        assertTrue(defaultDevice.isInput() && defaultDevice.isOutput());
        assertTrue(devices.stream().filter(AudioDevice::isDefaultInput).count() == 1);
        assertTrue(devices.stream().filter(AudioDevice::isDefaultOutput).count() == 1);
    }

    @Test
    void unknownDeviceKeysAreRefusedWithTheirMessages() {
        DeviceNotFoundException e = assertThrows(DeviceNotFoundException.class,
                () -> engine._startCall("1", "127.0.0.1", (short) 1, "echo", "No such device|00|01|01", null, false));
        assertEquals("Cannot find audio device to start call", e.getMessage());
        assertFalse(engine._isCallInProgress());
        assertTrue(TallixSupport.logged("WARNING", "Failed to find input device [No such device|00|01|01]"));
        // Without a call only the loopback switch changes: nothing is opened, nothing thrown.
        engine._changeAudioDevices("No such device", "No such device", false);
    }

    @Test
    void levelsMuteAndProcessingFlagsAreKept() {
        engine._setInputLevel(0.5f);
        engine._setOutputLevel(2.5f);
        assertEquals(0.5f, engine._getInputLevel());
        assertEquals(2.5f, engine._getOutputLevel());
        engine._setInputLevel(1f);
        engine._setOutputLevel(1f);
        engine._setInputMuted(true);
        assertTrue(engine._isInputMuted());
        engine._setInputMuted(false);
        assertFalse(engine._isInputMuted());
        boolean aec = engine._isAecEnabled();
        engine._setAecEnabled(!aec);
        assertEquals(!aec, engine._isAecEnabled());
        engine._setAecEnabled(aec);
        engine._setNoiseSuppressionEnabled(true);
        assertTrue(engine._isNoiseSuppressionEnabled());
        engine._setAgcEnabled(false);
        assertFalse(engine._isAgcEnabled());
    }

    @Test
    void logBridgeGivesRecordsAtTheirLevels() {
        assertNotNull(engine._getLibraryVersion());
        assertTrue(TallixSupport.logged("INFO", "Audio init complete"));
        assertTrue(TallixSupport.logged("INFO", "Using PortAudio backend: ALSA"));
        engine._endCall();  // no call: only a severe message
        assertTrue(TallixSupport.logged("SEVERE", "Attempting to end call when no call is in progress"));
        LogRecord none = engine._getNextLogEntry();
        while (none != null) {
            none = engine._getNextLogEntry();
        }
        assertEquals(null, engine._getNextLogEntry());
        for (LogRecord r : TallixSupport.log()) {
            assertTrue(List.of(Level.SEVERE, Level.WARNING, Level.INFO, Level.FINE, Level.FINEST).contains(r.getLevel()));
        }
    }

    @Test
    void tcpPacketsLongerThanTheirArrayOrThePacketAreRefused() {
        engine._tcpPacketReceived(new byte[4], 5);
        engine._tcpPacketReceived(new byte[4], -1);
        engine._tcpPacketReceived(null, 1);
        engine._tcpPacketReceived(new byte[9000], 9000);
        assertTrue(TallixSupport.logged("SEVERE", "Refused TCP packet: length 5 outside its array of 4 bytes"));
        assertTrue(TallixSupport.logged("SEVERE", "Refused TCP packet of 9000 bytes"));
    }
}
