package com.zephra.tallix;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zephra.tallix.TallixSupport.QelServer;
import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.util.Set;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/** Peers that fail under a call: a voice server killed outright, a host whose callbacks throw. */
class PeerFaultTest {
    private static final long CONNECT_MS = 15000;
    private final FaultyHost engine = (FaultyHost) TallixSupport.engine();

    @AfterEach
    void idle() throws InterruptedException {
        engine.throwAtOnce = false;
        engine.throwAfter = Set.of();
        if (engine._isCallInProgress()) {
            engine._endCall();
        }
        TallixSupport.awaitIdle();
        while (engine.nextEvent(0) != null) {
            // events of a finished test
        }
    }

    /** Kills the server in a connected call and ends the call; returns _endCall's duration. */
    private long killServerInACall(String pin, String... serverArgs) throws Exception {
        try (QelServer server = new QelServer(serverArgs)) {
            engine._startCall(pin, "127.0.0.1", server.tcpPort, "echo", null, null, false);
            assertEquals("started " + pin, engine.nextEvent(CONNECT_MS));
            server.process.destroyForcibly();  // SIGKILL
            assertTrue(server.process.waitFor(5, TimeUnit.SECONDS));
            String told = engine.nextEvent(3000);
            if (serverArgs.length == 0) {
                // Over UDP nothing tells the session the server is gone: the call stays up.
                assertNull(told);
                assertTrue(engine._isCallInProgress());
            } else {
                assertEquals("failed " + pin + ": Error sending TCP packet", told);
                assertFalse(engine._isCallInProgress());
            }
            long start = System.nanoTime();
            engine._endCall();
            return (System.nanoTime() - start) / 1_000_000;
        }
    }

    @Test
    void killedServerOverUdpLeavesTheCallUpUntilTheHostEndsIt() throws Exception {
        long endMs = killServerInACall("31");
        assertTrue(endMs < 1000, "_endCall took " + endMs + " ms");
        assertEquals("ended 31", engine.nextEvent(1000));
        awaitNoCall();
    }

    @Test
    void killedServerOverTcpFailsTheCall() throws Exception {
        long endMs = killServerInACall("32", "--ignore-udp");
        assertTrue(endMs < 1000, "_endCall took " + endMs + " ms");
        assertNull(engine.nextEvent(1000), "a failed call never ends as well");
        awaitNoCall();
    }

    /**
     * Every callback throws at some point: first all of them before doing anything (the
     * call cannot even connect), then the ones of a working call after their work. Each
     * exception is described on standard error and cleared; the engine goes on, and a
     * plain call afterwards works.
     */
    @Test
    void throwingCallbacksAreDescribedAndClearedAndTheEngineGoesOn() throws Exception {
        PrintStream realErr = System.err;
        ByteArrayOutputStream described = new ByteArrayOutputStream();
        System.setErr(new PrintStream(described, true, StandardCharsets.UTF_8));
        try (QelServer server = new QelServer()) {
            engine.throwAtOnce = true;
            engine._startCall("41", "127.0.0.1", server.tcpPort, "echo", null, null, false);
            awaitNoCall();
            assertNull(engine.nextEvent(500), "callFailed itself threw");
            engine.throwAtOnce = false;

            engine.throwAfter = Set.of("connectTcp");
            engine._startCall("42", "127.0.0.1", server.tcpPort, "echo", null, null, false);
            assertEquals("failed 42: Failed to connect to server", engine.nextEvent(CONNECT_MS));
            awaitNoCall();

            engine.throwAfter = Set.of("sendTcpPacket", "callFailed", "disconnectNetwork");
            engine._startCall("43", "127.0.0.1", server.tcpPort, "echo", null, null, false);
            assertEquals("failed 43: Error sending TCP packet", engine.nextEvent(CONNECT_MS));
            awaitNoCall();

            engine.throwAfter = Set.of("callStarted", "callEnded", "disconnectNetwork");
            engine._startCall("44", "127.0.0.1", server.tcpPort, "echo", null, null, false);
            assertEquals("started 44", engine.nextEvent(CONNECT_MS));
            assertTrue(engine._isCallInProgress());
            engine._endCall();
            assertEquals("ended 44", engine.nextEvent(CONNECT_MS));
            awaitNoCall();

            // isTcpConnected answering with an exception in every pass of the loop is taken
            // as not connected: the announce answer is never read and the session gives up.
            engine.throwAfter = Set.of("isTcpConnected");
            engine._startCall("46", "127.0.0.1", server.tcpPort, "echo", null, null, false);
            assertEquals("failed 46: Received error from QEL", engine.nextEvent(CONNECT_MS));
            awaitNoCall();
            engine.throwAfter = Set.of();
            assertTrue(TallixSupport.logged("SEVERE", "No response from server"));
        } finally {
            System.setErr(realErr);
        }
        String text = described.toString(StandardCharsets.UTF_8);
        System.err.print(text);
        for (String callback : new String[] {"connectTcp", "disconnectNetwork", "callFailed",
                "sendTcpPacket", "callStarted", "callEnded", "isTcpConnected"}) {
            assertTrue(text.contains("IllegalStateException: host fault in " + callback),
                    callback + " was not described");
        }

        try (QelServer server = new QelServer()) {
            engine._startCall("45", "127.0.0.1", server.tcpPort, "echo", null, null, false);
            assertEquals("started 45", engine.nextEvent(CONNECT_MS));
            engine._endCall();
            assertEquals("ended 45", engine.nextEvent(CONNECT_MS));
        }
    }

    private void awaitNoCall() throws InterruptedException {
        TallixSupport.awaitIdle();
        assertFalse(engine._isCallInProgress());
    }
}
