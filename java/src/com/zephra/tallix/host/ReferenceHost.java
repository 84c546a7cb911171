package com.zephra.tallix.host;

import com.zephra.tallix.devices.AudioDevice;
import com.zephra.tallix.devices.AudioDeviceList;
import com.zephra.tallix.platform.TallixNative;
import java.io.DataInputStream;
import java.io.EOFException;
import java.io.IOException;
import java.io.OutputStream;
import java.net.InetSocketAddress;
import java.net.Socket;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import java.util.logging.Level;
import java.util.logging.LogRecord;
import java.util.logging.Logger;

/**
 * A host for the voice engine that uses it as the desktop client does: it owns the TCP
 * connection to the voice server (a reader thread hands whole session packets to the
 * engine), drains the engine's log into java.util.logging and collects the call's events.
 */
public class ReferenceHost extends TallixNative {
    /** Session packets start with a 16-byte header whose bytes 8-9 hold the whole length. */
    static final int HEADER_BYTES = 16;
    static final int MAGIC = 0x57721566;

    private static final Logger LOG = Logger.getLogger("com.zephra.tallix");

    private final BlockingQueue<String> events = new LinkedBlockingQueue<>();
    private final List<String> history = new ArrayList<>();
    private final Object socketLock = new Object();
    private Socket socket;
    private Thread reader;
    private volatile int tcpPacketsSent;
    private volatile int tcpPacketsReceived;

    /** Call events, as "started PIN", "ended PIN", "failed PIN: REASON", in order. */
    public String nextEvent(long timeoutMs) throws InterruptedException {
        return events.poll(timeoutMs, TimeUnit.MILLISECONDS);
    }

    public synchronized List<String> eventHistory() {
        return new ArrayList<>(history);
    }

    public int tcpPacketsSent() { return tcpPacketsSent; }
    public int tcpPacketsReceived() { return tcpPacketsReceived; }

    private synchronized void event(String text) {
        history.add(text);
        events.add(text);
    }

    /** Moves every waiting engine log entry into java.util.logging; returns them too. */
    public List<LogRecord> drainLog() {
        List<LogRecord> drained = new ArrayList<>();
        for (LogRecord record = _getNextLogEntry(); record != null; record = _getNextLogEntry()) {
            record.setLoggerName(LOG.getName());
            LOG.log(record);
            drained.add(record);
        }
        return drained;
    }

    public List<AudioDevice> listDevices() {
        AudioDeviceList list = new AudioDeviceList();
        _listAudioDevices(list);
        return list.getDevices();
    }

    @Override
    protected void connectTcp(String host, short port) throws IOException {
        Socket s = new Socket();
        s.setTcpNoDelay(true);
        s.connect(new InetSocketAddress(host, Short.toUnsignedInt(port)), 5000);
        Thread t = new Thread(() -> readPackets(s), "tallix-tcp-reader");
        t.setDaemon(true);
        synchronized (socketLock) {
            socket = s;
            reader = t;
        }
        t.start();
    }

    /** Hands every whole packet of the stream to the engine; a broken stream is reported once. */
    private void readPackets(Socket s) {
        try {
            DataInputStream in = new DataInputStream(s.getInputStream());
            byte[] header = new byte[HEADER_BYTES];
            while (true) {
                in.readFully(header);
                int magic = (header[0] & 0xff) | (header[1] & 0xff) << 8 | (header[2] & 0xff) << 16
                        | (header[3] & 0xff) << 24;
                int length = (header[8] & 0xff) | (header[9] & 0xff) << 8;
                if (magic != MAGIC || length < HEADER_BYTES) {
                    throw new IOException("stream out of step: magic " + Integer.toHexString(magic)
                            + ", length " + length);
                }
                byte[] packet = new byte[length];
                System.arraycopy(header, 0, packet, 0, HEADER_BYTES);
                in.readFully(packet, HEADER_BYTES, length - HEADER_BYTES);
                tcpPacketsReceived++;
                _tcpPacketReceived(packet, length);
            }
        } catch (EOFException e) {
            // the server closed the connection; the session's own timers decide what follows
        } catch (IOException e) {
            if (!s.isClosed()) {
                LOG.log(Level.WARNING, "TCP read failed", e);
                _tcpReadError();
            }
        }
    }

    @Override
    protected boolean isTcpConnected() {
        synchronized (socketLock) {
            return socket != null && socket.isConnected() && !socket.isClosed();
        }
    }

    @Override
    protected void sendTcpPacket(byte[] packet) throws IOException {
        OutputStream out;
        synchronized (socketLock) {
            if (socket == null) {
                throw new IOException("not connected");
            }
            out = socket.getOutputStream();
        }
        synchronized (out) {
            out.write(packet);
            out.flush();
        }
        tcpPacketsSent++;
    }

    @Override
    protected void disconnectNetwork() {
        Socket s;
        synchronized (socketLock) {
            s = socket;
            socket = null;
            reader = null;
        }
        if (s != null) {
            try {
                s.close();
            } catch (IOException e) {
                LOG.log(Level.FINE, "closing the TCP connection", e);
            }
        }
    }

    @Override
    protected void callStarted(String pin) {
        event("started " + pin);
    }

    @Override
    protected void callEnded(String pin) {
        event("ended " + pin);
    }

    @Override
    protected void callFailed(String pin, String reason) {
        event("failed " + pin + ": " + reason);
    }

    /**
     * Lists the devices and makes one call: ReferenceHost HOST PORT SERVICE PIN [SECONDS].
     * Run it with the session library at native/ under the current directory.
     */
    /** A decaying 660 Hz tone as 16-bit mono samples in native byte order. */
    static byte[] chime(int rate, double seconds) {
        int count = (int) (rate * seconds);
        java.nio.ByteBuffer bytes = java.nio.ByteBuffer.allocate(count * 2).order(java.nio.ByteOrder.nativeOrder());
        for (int i = 0; i < count; i++) {
            double t = (double) i / rate;
            bytes.putShort((short) (12000 * Math.exp(-6 * t) * Math.sin(2 * Math.PI * 660 * t)));
        }
        return bytes.array();
    }

    private static void printLog(ReferenceHost engine) {
        for (LogRecord record : engine.drainLog()) {
            System.out.println("log " + record.getLevel() + " " + record.getMessage());
        }
    }

    public static void main(String[] args) throws Exception {
        if (args.length < 4) {
            System.err.println("usage: ReferenceHost HOST PORT SERVICE PIN [SECONDS]");
            System.exit(2);
        }
        String host = args[0];
        short port = (short) Integer.parseInt(args[1]);
        String service = args[2];
        String pin = args[3];
        int seconds = args.length > 4 ? Integer.parseInt(args[4]) : 3;

        ReferenceHost engine = new ReferenceHost();
        if (!engine._initLibrary()) {
            System.err.println("tallix: _initLibrary failed (is native/ beside the current directory?)");
            System.exit(1);
        }
        System.out.println("session library " + engine._getLibraryVersion());
        for (AudioDevice device : engine.listDevices()) {
            System.out.println("device " + device);
        }
        long toneStart = System.nanoTime();
        engine._playTestTone(null);
        System.out.println("test tone played for " + (System.nanoTime() - toneStart) / 1_000_000 + " ms");
        engine._playAudioFile(null, chime(44100, 0.5), 44100);
        System.out.println("sound clip of 0.5 s at 44100 Hz started");
        Thread.sleep(700);
        engine._rescanAudioDevices(false);
        System.out.println("devices rescanned: " + engine.listDevices().size() + " found");
        engine._setCallerId("reference-host");
        engine._startCall(pin, host, port, service, null, null, false);
        String first = engine.nextEvent(15000);
        System.out.println("event " + first);
        int status = 1;
        if (first != null && first.startsWith("started")) {
            // The log is drained as the call goes, as the client does: a long call keeps
            // nothing of it in the engine's memory.
            for (long end = System.nanoTime() + seconds * 1_000_000_000L; System.nanoTime() < end; ) {
                Thread.sleep(Math.min(1000L, Math.max(1L, (end - System.nanoTime()) / 1_000_000)));
                printLog(engine);
            }
            engine._endCall();
            String last = engine.nextEvent(10000);
            System.out.println("event " + last);
            status = last != null && last.startsWith("ended") ? 0 : 1;
        }
        Thread.sleep(200);
        printLog(engine);
        System.out.println("tcp packets sent " + engine.tcpPacketsSent() + ", received "
                + engine.tcpPacketsReceived());
        System.exit(status);
    }
}
