package com.zephra.tallix.platform;

import com.zephra.tallix.devices.AudioDeviceList;
import java.util.logging.LogRecord;

/**
 * The voice engine's native methods and the callbacks it makes from its call thread.
 *
 * <p>The host owns the TCP connection to the voice server: the engine asks for it with
 * {@link #connectTcp}, hands packets out through {@link #sendTcpPacket}, and takes the
 * received stream back through {@code _tcpPacketReceived}. A subclass supplies the
 * connection and hears the call's events. The library is loaded by name ("tallix") and
 * loads the session library from native/ in its own folder; only when that file is not
 * there does it look for native/ under the process's current directory.
 */
public abstract class TallixNative {
    static {
        System.loadLibrary("tallix");
    }

    public native boolean _initLibrary();
    public native String _getLibraryVersion();
    public native void _setCallerId(String id);
    public native void _listAudioDevices(AudioDeviceList list);
    public native void _rescanAudioDevices(boolean restart);
    public native void _changeAudioDevices(String inputKey, String outputKey, boolean loopback);
    public native float _getInputLevel();
    public native void _setInputLevel(float level);
    public native float _getOutputLevel();
    public native void _setOutputLevel(float level);
    public native boolean _isInputMuted();
    public native void _setInputMuted(boolean muted);
    public native boolean _isCallInProgress();
    public native void _startCall(String pin, String host, short port, String service, String inputKey,
            String outputKey, boolean loopback);
    public native void _endCall();
    /** Plays a two-second test tone on the device; returns when it has ended. */
    public native void _playTestTone(String deviceKey);
    /** Plays 16-bit mono samples (native byte order) once; returns once playback started. */
    public native void _playAudioFile(String deviceKey, byte[] samples, int sampleRate);
    /** Plays 16-bit mono samples in a loop until {@link #_stopPlayingSound}. */
    public native void _startPlayingSound(String deviceKey, byte[] samples, int sampleRate);
    public native void _stopPlayingSound();
    public native void _tcpPacketReceived(byte[] data, int length);
    public native void _tcpReadError();
    public native boolean _isAecEnabled();
    public native void _setAecEnabled(boolean on);
    public native boolean _isAgcEnabled();
    public native void _setAgcEnabled(boolean on);
    public native boolean _isNoiseSuppressionEnabled();
    public native void _setNoiseSuppressionEnabled(boolean on);
    public native LogRecord _getNextLogEntry();

    /** Opens the TCP connection to the server; throws when it cannot. */
    protected abstract void connectTcp(String host, short port) throws Exception;

    protected abstract boolean isTcpConnected();

    /** Sends one whole packet; throws when it cannot. */
    protected abstract void sendTcpPacket(byte[] packet) throws Exception;

    protected abstract void disconnectNetwork();

    protected abstract void callStarted(String pin);

    protected abstract void callEnded(String pin);

    protected abstract void callFailed(String pin, String reason);
}
