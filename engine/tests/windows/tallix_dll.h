// tallix.dll as the Java host loads it: from its file, its natives found under their
// plain JNI names, JNI_OnLoad run with the test virtual machine; and the host's side
// of a call, the TCP connection to the voice server, on the test's own Winsock socket.
#pragma once

// Winsock's header must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <jni.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_jvm.h"

namespace tallix_wine {

struct TallixDll {
    HMODULE module = nullptr;
    jint onLoadResult = 0;
    jint(JNICALL* onLoad)(JavaVM*, void*) = nullptr;
    jboolean(JNICALL* initLibrary)(JNIEnv*, jobject) = nullptr;
    jstring(JNICALL* getLibraryVersion)(JNIEnv*, jobject) = nullptr;
    void(JNICALL* setCallerId)(JNIEnv*, jobject, jstring) = nullptr;
    void(JNICALL* listAudioDevices)(JNIEnv*, jobject, jobject) = nullptr;
    void(JNICALL* rescanAudioDevices)(JNIEnv*, jobject, jboolean) = nullptr;
    jboolean(JNICALL* isCallInProgress)(JNIEnv*, jobject) = nullptr;
    void(JNICALL* startCall)(JNIEnv*, jobject, jstring, jstring, jshort, jstring, jstring, jstring,
                             jboolean) = nullptr;
    void(JNICALL* endCall)(JNIEnv*, jobject) = nullptr;
    void(JNICALL* playTestTone)(JNIEnv*, jobject, jstring) = nullptr;
    void(JNICALL* playAudioFile)(JNIEnv*, jobject, jstring, jbyteArray, jint) = nullptr;
    void(JNICALL* startPlayingSound)(JNIEnv*, jobject, jstring, jbyteArray, jint) = nullptr;
    void(JNICALL* stopPlayingSound)(JNIEnv*, jobject) = nullptr;
    void(JNICALL* tcpPacketReceived)(JNIEnv*, jobject, jbyteArray, jint) = nullptr;
    void(JNICALL* tcpReadError)(JNIEnv*, jobject) = nullptr;
    jobject(JNICALL* getNextLogEntry)(JNIEnv*, jobject) = nullptr;
    void(JNICALL* setAecEnabled)(JNIEnv*, jobject, jboolean) = nullptr;
    void(JNICALL* setAgcEnabled)(JNIEnv*, jobject, jboolean) = nullptr;
    void(JNICALL* setNoiseSuppressionEnabled)(JNIEnv*, jobject, jboolean) = nullptr;

    bool complete() const;
};

// Loaded once per process from the test program's directory (native\qel.dll beside
// it); JNI_OnLoad has run.
TallixDll& tallix();

// The TallixNative object of the test: the natives' `this` and the callback target.
jobject nativeObject();

// Drains the engine's log through _getNextLogEntry; each line is "LEVEL|text".
std::vector<std::string> drainLog();

// The Java host's TCP connection for the engine's call thread: connectTcp opens it
// (a blocking Winsock socket), a reader thread hands every whole packet to
// _tcpPacketReceived as the host's reader does, sendTcpPacket writes to it.
class HostConnection {
  public:
    HostConnection();
    ~HostConnection();
    HostConnection(const HostConnection&) = delete;
    HostConnection& operator=(const HostConnection&) = delete;

    int packetsSent() const { return m_sent; }
    int packetsReceived() const { return m_received; }

  private:
    bool open(const std::string& host, int port);
    void close();
    void read(SOCKET socket);

    std::mutex m_mutex;
    SOCKET m_socket = INVALID_SOCKET;
    std::thread m_reader;
    std::atomic<int> m_sent{0};
    std::atomic<int> m_received{0};
};

}  // namespace tallix_wine
