package com.zephra.tallix;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zephra.tallix.exceptions.TallixException;
import com.zephra.tallix.host.ReferenceHost;
import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.logging.LogRecord;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/** The one engine of the test JVM, and the test voice server as a child process. */
final class TallixSupport {
    private static ReferenceHost engine;
    private static final List<LogRecord> log = new ArrayList<>();

    private TallixSupport() {}

    /**
     * Initialises the engine once. Before naming the caller, a call must be refused with
     * the engine's own exception: that can only be seen before the first _setCallerId.
     */
    static synchronized ReferenceHost engine() {
        if (engine == null) {
            ReferenceHost host = new FaultyHost();
            assertTrue(host._initLibrary(), "_initLibrary (run from the stage directory)");
            TallixException e = assertThrows(TallixException.class,
                    () -> host._startCall("1", "127.0.0.1", (short) 1, "echo", null, null, false));
            assertEquals(TallixException.class, e.getClass());
            assertEquals("Unexpected error while starting call", e.getMessage());
            host._setCallerId("junit");
            engine = host;
        }
        return engine;
    }

    /** Everything the engine logged so far (drained into java.util.logging as it goes). */
    static synchronized List<LogRecord> log() {
        log.addAll(engine().drainLog());
        return new ArrayList<>(log);
    }

    static boolean logged(String level, String text) {
        for (LogRecord r : log()) {
            if (r.getLevel().getName().equals(level) && r.getMessage().contains(text)) {
                return true;
            }
        }
        return false;
    }

    /** Waits until the engine has no call and no call thread left over. */
    static void awaitIdle() throws InterruptedException {
        for (int i = 0; i < 200 && engine()._isCallInProgress(); i++) {
            Thread.sleep(50);
        }
        Thread.sleep(300);
    }

    static final class QelServer implements AutoCloseable {
        private static final Pattern LISTENING = Pattern.compile("qel-server listening tcp=(\\d+) udp=(\\d+)");
        final Process process;
        final short tcpPort;

        QelServer(String... args) throws IOException {
            String path = System.getenv("QEL_SERVER");
            List<String> command = new ArrayList<>();
            command.add(path);
            command.addAll(List.of(args));
            process = new ProcessBuilder(command).redirectError(ProcessBuilder.Redirect.DISCARD).start();
            BufferedReader out = new BufferedReader(new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8));
            String line = out.readLine();
            Matcher m = LISTENING.matcher(line == null ? "" : line);
            if (!m.find()) {
                process.destroy();
                throw new IOException("qel-server did not start: " + line);
            }
            tcpPort = (short) Integer.parseInt(m.group(1));
        }

        @Override
        public void close() throws InterruptedException {
            process.destroy();
            process.waitFor(5, TimeUnit.SECONDS);
        }
    }
}
