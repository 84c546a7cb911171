#include "engine/tests/windows/tallix_dll.h"

#include <ws2tcpip.h>

#include <cstdio>

namespace tallix_wine {

namespace {

using zephra_test::JavaCall;
using zephra_test::testJvm;

template <typename F>
void resolve(HMODULE module, const char* name, F& out) {
    out = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (out == nullptr) {
        std::fprintf(stderr, "tallix.dll lacks %s\n", name);
    }
}

#define TALLIX_RESOLVE(member, java) \
    resolve(dll.module, "Java_com_zephra_tallix_platform_TallixNative__1" java, dll.member)

bool receiveAll(SOCKET socket, char* data, int length) {
    while (length > 0) {
        const int n = recv(socket, data, length, 0);
        if (n <= 0) {
            return false;
        }
        data += n;
        length -= n;
    }
    return true;
}

}  // namespace

bool TallixDll::complete() const {
    return module != nullptr && onLoad != nullptr && initLibrary != nullptr &&
           getLibraryVersion != nullptr && setCallerId != nullptr && listAudioDevices != nullptr &&
           rescanAudioDevices != nullptr && isCallInProgress != nullptr && startCall != nullptr &&
           endCall != nullptr && playTestTone != nullptr && playAudioFile != nullptr &&
           startPlayingSound != nullptr && stopPlayingSound != nullptr &&
           tcpPacketReceived != nullptr && tcpReadError != nullptr && getNextLogEntry != nullptr;
}

TallixDll& tallix() {
    static TallixDll loaded = [] {
        TallixDll dll;
        dll.module = LoadLibraryW(L"tallix.dll");
        if (dll.module == nullptr) {
            std::fprintf(stderr, "tallix.dll did not load (error %lu)\n", GetLastError());
            return dll;
        }
        resolve(dll.module, "JNI_OnLoad", dll.onLoad);
        TALLIX_RESOLVE(initLibrary, "initLibrary");
        TALLIX_RESOLVE(getLibraryVersion, "getLibraryVersion");
        TALLIX_RESOLVE(setCallerId, "setCallerId");
        TALLIX_RESOLVE(listAudioDevices, "listAudioDevices");
        TALLIX_RESOLVE(rescanAudioDevices, "rescanAudioDevices");
        TALLIX_RESOLVE(isCallInProgress, "isCallInProgress");
        TALLIX_RESOLVE(startCall, "startCall");
        TALLIX_RESOLVE(endCall, "endCall");
        TALLIX_RESOLVE(playTestTone, "playTestTone");
        TALLIX_RESOLVE(playAudioFile, "playAudioFile");
        TALLIX_RESOLVE(startPlayingSound, "startPlayingSound");
        TALLIX_RESOLVE(stopPlayingSound, "stopPlayingSound");
        TALLIX_RESOLVE(tcpPacketReceived, "tcpPacketReceived");
        TALLIX_RESOLVE(tcpReadError, "tcpReadError");
        TALLIX_RESOLVE(getNextLogEntry, "getNextLogEntry");
        TALLIX_RESOLVE(setAecEnabled, "setAecEnabled");
        TALLIX_RESOLVE(setAgcEnabled, "setAgcEnabled");
        TALLIX_RESOLVE(setNoiseSuppressionEnabled, "setNoiseSuppressionEnabled");
        if (dll.onLoad != nullptr) {
            testJvm().env();  // the loading thread is a Java thread
            dll.onLoadResult = dll.onLoad(testJvm().vm(), nullptr);
        }
        return dll;
    }();
    return loaded;
}

jobject nativeObject() {
    static jobject object = testJvm().newObject("com/zephra/tallix/platform/TallixNative");
    return object;
}

std::vector<std::string> drainLog() {
    JNIEnv* env = testJvm().env();
    while (tallix().getNextLogEntry(env, nativeObject()) != nullptr) {
    }
    // Each record was made with LogRecord(Level, String) on this thread.
    static std::size_t consumed = 0;
    const std::vector<JavaCall> calls = testJvm().calls();
    if (consumed > calls.size()) {
        consumed = 0;  // the record was cleared
    }
    std::vector<std::string> lines;
    for (std::size_t i = consumed; i < calls.size(); ++i) {
        const JavaCall& call = calls[i];
        if (call.method == "<init>" && call.className == "java/util/logging/LogRecord" &&
            call.args.size() == 2 && call.threadId == GetCurrentThreadId()) {
            const std::string& level = call.args[0];
            lines.push_back(level.substr(level.rfind('.') + 1) + "|" + call.args[1]);
        }
    }
    consumed = calls.size();
    return lines;
}

HostConnection::HostConnection() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    testJvm().onCall("connectTcp", [this](const JavaCall& call) {
        if (call.args.size() != 2 || !open(call.args[0], std::stoi(call.args[1]))) {
            testJvm().throwPending("java/io/IOException", "connect failed");
        }
        return jvalue{};
    });
    testJvm().onCall("isTcpConnected", [this](const JavaCall&) {
        std::lock_guard lock(m_mutex);
        jvalue result{};
        result.z = m_socket != INVALID_SOCKET ? JNI_TRUE : JNI_FALSE;
        return result;
    });
    testJvm().onCall("sendTcpPacket", [this](const JavaCall& call) {
        std::lock_guard lock(m_mutex);
        const int length = static_cast<int>(call.bytes.size());
        if (m_socket == INVALID_SOCKET ||
            send(m_socket, reinterpret_cast<const char*>(call.bytes.data()), length, 0) != length) {
            testJvm().throwPending("java/io/IOException", "send failed");
        } else {
            ++m_sent;
        }
        return jvalue{};
    });
    testJvm().onCall("disconnectNetwork", [this](const JavaCall&) {
        close();
        return jvalue{};
    });
}

HostConnection::~HostConnection() {
    close();
    for (const char* method :
         {"connectTcp", "isTcpConnected", "sendTcpPacket", "disconnectNetwork"}) {
        testJvm().onCall(method, nullptr);
    }
    WSACleanup();
}

bool HostConnection::open(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port & 0xFFFF).c_str(), &hints, &list) != 0) {
        return false;
    }
    SOCKET s = socket(list->ai_family, list->ai_socktype, list->ai_protocol);
    const bool connected =
        s != INVALID_SOCKET && connect(s, list->ai_addr, static_cast<int>(list->ai_addrlen)) == 0;
    freeaddrinfo(list);
    if (!connected) {
        if (s != INVALID_SOCKET) {
            closesocket(s);
        }
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_socket = s;
    m_reader = std::thread(&HostConnection::read, this, s);
    return true;
}

void HostConnection::read(SOCKET socket) {
    JNIEnv* env = testJvm().env();  // the host's reader is a Java thread
    char packet[2048];
    for (;;) {
        if (!receiveAll(socket, packet, 16)) {
            return;
        }
        const int length =
            static_cast<unsigned char>(packet[8]) | (static_cast<unsigned char>(packet[9]) << 8);
        if (length < 16 || length > static_cast<int>(sizeof packet) ||
            !receiveAll(socket, packet + 16, length - 16)) {
            tallix().tcpReadError(env, nativeObject());
            return;
        }
        ++m_received;
        tallix().tcpPacketReceived(env, nativeObject(), testJvm().newByteArray(packet, length),
                                   length);
    }
}

void HostConnection::close() {
    std::thread reader;
    {
        std::lock_guard lock(m_mutex);
        if (m_socket != INVALID_SOCKET) {
            shutdown(m_socket, SD_BOTH);
        }
        reader = std::move(m_reader);
    }
    if (reader.joinable()) {
        reader.join();
    }
    std::lock_guard lock(m_mutex);
    if (m_socket != INVALID_SOCKET) {
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
}

}  // namespace tallix_wine
