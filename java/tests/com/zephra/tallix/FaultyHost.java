package com.zephra.tallix;

import com.zephra.tallix.host.ReferenceHost;
import java.util.Set;

/**
 * The reference host with callbacks that can be made to throw: before doing anything
 * ({@link #throwAtOnce}), or after doing their work ({@link #throwAfter}, by name).
 */
final class FaultyHost extends ReferenceHost {
    volatile boolean throwAtOnce;
    volatile Set<String> throwAfter = Set.of();

    private void maybeThrow(String callback, boolean done) {
        if ((!done && throwAtOnce) || (done && throwAfter.contains(callback))) {
            throw new IllegalStateException("host fault in " + callback);
        }
    }

    @Override
    protected void connectTcp(String host, short port) throws java.io.IOException {
        maybeThrow("connectTcp", false);
        super.connectTcp(host, port);
        maybeThrow("connectTcp", true);
    }

    @Override
    protected boolean isTcpConnected() {
        maybeThrow("isTcpConnected", false);
        boolean connected = super.isTcpConnected();
        maybeThrow("isTcpConnected", true);  // its only work is the answer
        return connected;
    }

    @Override
    protected void sendTcpPacket(byte[] packet) throws java.io.IOException {
        maybeThrow("sendTcpPacket", false);
        super.sendTcpPacket(packet);
        maybeThrow("sendTcpPacket", true);
    }

    @Override
    protected void disconnectNetwork() {
        maybeThrow("disconnectNetwork", false);
        super.disconnectNetwork();
        maybeThrow("disconnectNetwork", true);
    }

    @Override
    protected void callStarted(String pin) {
        maybeThrow("callStarted", false);
        super.callStarted(pin);
        maybeThrow("callStarted", true);
    }

    @Override
    protected void callEnded(String pin) {
        maybeThrow("callEnded", false);
        super.callEnded(pin);
        maybeThrow("callEnded", true);
    }

    @Override
    protected void callFailed(String pin, String reason) {
        maybeThrow("callFailed", false);
        super.callFailed(pin, reason);
        maybeThrow("callFailed", true);
    }
}
