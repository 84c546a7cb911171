package com.zephra.tallix;

import com.zephra.tallix.host.ReferenceHost;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;

/**
 * Binds the engine from wherever java.library.path finds it, in the current directory
 * the process was started in, and prints what it saw: "bound true|false", "version V"
 * (through the bound session library), then "loaded libqel.so PATH" for each session
 * library file mapped into the process.
 * engine/tests/session_library_placement.py runs it in prepared folders.
 */
public final class SessionLibraryProbe {
    private SessionLibraryProbe() {}

    public static void main(String[] args) throws IOException {
        ReferenceHost engine = new ReferenceHost();
        System.out.println("bound " + engine._initLibrary());
        String version = engine._getLibraryVersion();
        if (version != null) {
            System.out.println("version " + version);
        }
        Files.readAllLines(Path.of("/proc/self/maps")).stream()
                .map(line -> line.replaceFirst("^(\\S+\\s+){5}", "").trim())
                .filter(path -> path.endsWith("/libqel.so"))
                .distinct()
                .forEach(path -> System.out.println("loaded libqel.so " + path));
        System.exit(0);  // whatever the engine left running
    }
}
