package com.zephra.tallix;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zephra.tallix.TallixSupport.QelServer;
import com.zephra.tallix.devices.AudioDevice;
import com.zephra.tallix.exceptions.CallInProgressException;
import com.zephra.tallix.exceptions.DeviceNotFoundException;
import com.zephra.tallix.host.ReferenceHost;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.net.Socket;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/** Calls through the engine, the session library and the test voice server on loopback. */
class CallTest {
    private static final long CONNECT_MS = 10000;
    private final ReferenceHost engine = TallixSupport.engine();

    @AfterEach
    void idle() throws InterruptedException {
        if (engine._isCallInProgress()) {
            engine._endCall();
        }
        TallixSupport.awaitIdle();
        while (engine.nextEvent(0) != null) {
            // events of a finished test
        }
    }

    @Test
    void udpCallStartsSwitchesDevicesAndEnds() throws Exception {
        try (QelServer server = new QelServer()) {
            engine._startCall("4711", "127.0.0.1", server.tcpPort, "echo", null, null, false);
            assertEquals("started 4711", engine.nextEvent(CONNECT_MS));
            Thread.sleep(100);
            assertTrue(engine._isCallInProgress());
            CallInProgressException busy = assertThrows(CallInProgressException.class,
                    () -> engine._startCall("1", "127.0.0.1", server.tcpPort, "echo", null, null, false));
            assertEquals("Cannot start call - already on a call", busy.getMessage());

            String key = null;
            for (AudioDevice d : engine.listDevices()) {
                if (d.getName().equals("default")) {
                    key = d.getKey();
                }
            }
            engine._changeAudioDevices(key, key, false);
            Thread.sleep(300);
            assertTrue(engine._isCallInProgress());

            engine._endCall();
            assertEquals("ended 4711", engine.nextEvent(CONNECT_MS));
            TallixSupport.awaitIdle();
            assertFalse(engine._isCallInProgress());
            assertNull(engine.nextEvent(500));
            assertTrue(TallixSupport.logged("INFO", "Connected to QEL server"));
            assertTrue(TallixSupport.logged("INFO", "Disconnected from QEL server"));
            assertTrue(TallixSupport.logged("FINEST", "Connected to server port"));
            assertTrue(TallixSupport.logged("FINE", "Audio Setup - Sample Rate: 48000, Frame Samples: 512"));
            assertTrue(TallixSupport.log().stream().anyMatch(r -> r.getMessage().matches("[\\d.]+ QEL: .*")),
                    "session library messages carry the QEL: prefix");
        }
    }

    @Test
    void switchingToAMissingDeviceDuringACallThrowsAndTheCallGoesOn() throws Exception {
        try (QelServer server = new QelServer()) {
            engine._startCall("5", "127.0.0.1", server.tcpPort, "echo", null, null, false);
            assertEquals("started 5", engine.nextEvent(CONNECT_MS));
            DeviceNotFoundException e = assertThrows(DeviceNotFoundException.class,
                    () -> engine._changeAudioDevices("No such device", null, false));
            assertEquals("Cannot find audio device to switch to", e.getMessage());
            Thread.sleep(200);
            assertTrue(engine._isCallInProgress());
            engine._endCall();
            assertEquals("ended 5", engine.nextEvent(CONNECT_MS));
        }
    }

    @Test
    void callForcedOntoTcpStartsAndEnds() throws Exception {
        try (QelServer server = new QelServer("--ignore-udp")) {
            engine._startCall("6", "127.0.0.1", server.tcpPort, "echo", null, null, false);
            assertEquals("started 6", engine.nextEvent(15000));
            engine._endCall();
            assertEquals("ended 6", engine.nextEvent(CONNECT_MS));
            assertTrue(TallixSupport.logged("INFO", "QEL: ") && TallixSupport.log().stream()
                    .anyMatch(r -> r.getMessage().contains("Finished net detection, UDP=0")));
            assertTrue(engine.tcpPacketsSent() >= 4, "announce, pings, connect and disconnect over TCP");
        }
    }

    @Test
    void refusedAnnounceFailsOnceAndNeverEnds() throws Exception {
        try (QelServer server = new QelServer("--refuse-announce", "status", "--refuse-error", "not today")) {
            engine._startCall("7", "127.0.0.1", server.tcpPort, "echo", null, null, false);
            assertEquals("failed 7: Received error from QEL", engine.nextEvent(CONNECT_MS));
            TallixSupport.awaitIdle();
            assertNull(engine.nextEvent(1000));
            assertTrue(TallixSupport.logged("SEVERE", "Received QEL error ["));
        }
    }

    @Test
    void silentServerFailsOnceAndNeverEnds() throws Exception {
        try (ServerSocket silent = new ServerSocket(0, 4, InetAddress.getLoopbackAddress())) {
            engine._startCall("8", "127.0.0.1", (short) silent.getLocalPort(), "echo", null, null, false);
            try (Socket accepted = silent.accept()) {
                engine._endCall();  // before the connection: only logged, the call goes on
                assertEquals("failed 8: Received error from QEL", engine.nextEvent(CONNECT_MS));
                TallixSupport.awaitIdle();
                assertNull(engine.nextEvent(1000));
            }
        }
    }

    @Test
    void unreachableServerFailsAtOnce() throws Exception {
        int port;
        try (ServerSocket s = new ServerSocket(0, 1, InetAddress.getLoopbackAddress())) {
            port = s.getLocalPort();
        }
        engine._startCall("9", "127.0.0.1", (short) port, "echo", null, null, false);
        assertEquals("failed 9: Failed to connect to server", engine.nextEvent(CONNECT_MS));
        TallixSupport.awaitIdle();
        assertNull(engine.nextEvent(500));
    }
}
