package com.zephra.client.platform.windows.taskbar;

import java.awt.Component;
import java.util.Objects;
import java.util.function.Consumer;

/**
 * The Windows 7 taskbar as the client uses it, through the native library Taskelle:
 * the application identity, an overlay icon on the window's taskbar button, flashing,
 * the jump list, and the command lines that programs such as Hushlet write to the
 * client's command pipe.
 *
 * <p>Call {@link #init()} before anything else: it gives the process its identity and
 * starts the pipe server whose command lines reach {@link #onJumpListClick(String)}.
 * The jump-list methods must be called from one thread at a time.
 */
public class WindowsTaskbarOperationsImpl {
    private static final String LIBRARY = "Taskelle";

    private final Consumer<String> commandLineListener;

    /**
     * @param commandLineListener receives every command line that arrives on the pipe,
     *     on the library's pipe server thread, one at a time
     */
    public WindowsTaskbarOperationsImpl(Consumer<String> commandLineListener) {
        this.commandLineListener = Objects.requireNonNull(commandLineListener);
    }

    /** Loads the native library; only on Windows. */
    public static void loadLibrary() {
        System.loadLibrary(LIBRARY);
    }

    /** Sets the identity and starts the command pipe server; this object gets the command lines. */
    public void init() {
        _init("");
    }

    /** Puts icon {@code iconNumber} (resource 101 + n) of {@code iconLibrary} on the window's button. */
    public void setOverlay(Component window, String iconLibrary, int iconNumber) {
        _setOverlay(window, iconLibrary, iconNumber);
    }

    /** Removes the overlay icon; the native HRESULT, 0 on success. */
    public int clearOverlay(Component window) {
        return _clearOverlay(window);
    }

    public void flashWindow(Component window) {
        _flashWindow(window);
    }

    public int getVersionNumber() {
        return _getVersionNumber();
    }

    /**
     * Adds an entry that starts ZephraTaskRunner.exe with {@code arguments}; an empty
     * category makes it a task, any other puts it into the one custom category.
     */
    public void addToJumpList(String label, String arguments, String category, String iconLibrary, int iconIndex) {
        _addToJumpList(label, arguments, category, iconLibrary, iconIndex);
    }

    public void addSeparatorToJumpList() {
        _addSeparatorToJumpList();
    }

    public void clearJumpList() {
        _clearJumpList();
    }

    /** Empties the jump list as the client closes. */
    public void close() {
        _close();
    }

    /** Called by the native pipe server thread with the text of one command line. */
    protected void onJumpListClick(String commandLine) {
        commandLineListener.accept(commandLine);
    }

    private native void _init(String unused);

    private native void _setOverlay(Component window, String iconLibrary, int iconNumber);

    private native int _clearOverlay(Component window);

    private native void _flashWindow(Component window);

    private native int _getVersionNumber();

    private native void _addToJumpList(String label, String arguments, String category, String iconLibrary,
            int iconIndex);

    private native void _addSeparatorToJumpList();

    private native void _clearJumpList();

    private native void _close();
}
