// The server has the shape of the documented completion-routine pipe server: one
// thread keeps one instance waiting for the next client in an alertable wait, and the
// connected clients are served by read and write completion routines that run on
// that same thread while it waits, each routine queuing the connection's next I/O.
#include "taskbar/src/pipe_server.h"

#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <utility>

#include "platform/win32_handle.h"
#include "taskbar/src/guarded.h"
#include "taskbar/src/java_host.h"
#include "taskbar/src/request_text.h"

namespace taskbar {
namespace {

constexpr DWORD kBufferBytes = static_cast<DWORD>(kMaxRequestBytes);
constexpr DWORD kDefaultTimeoutMs = 5000;
// A failed instance is tried again at once: the usual cause is a client that
// connected and left before the connect was made, and the next client may be right
// behind it. Only when that attempt fails too does the thread pause before each
// further one, so that a lasting failure neither spins nor stops the served
// connections (the pause is alertable: their completion routines go on running).
constexpr int kAttemptsWithoutPause = 2;
constexpr DWORD kRetryPauseMs = 1000;

// One connected client. The overlapped record comes first: a completion routine gets
// the record's address and so finds its connection. Allocated zero-filled.
struct PipeConnection {
    OVERLAPPED overlapped;
    HANDLE pipe;
    unsigned char request[kMaxRequestBytes];
    DWORD replyLength;  // the reply is an empty message
};
static_assert(offsetof(PipeConnection, overlapped) == 0, "completion routines find the block from its record");

// Owns a connection between two I/O operations. Whoever holds it when it goes closes
// the connection: the one teardown path for every failure and for the client's end.
class ConnectionOwner {
public:
    explicit ConnectionOwner(PipeConnection* connection) noexcept : m_connection(connection) {}
    ~ConnectionOwner() {
        if (m_connection == nullptr) {
            return;
        }
        if (!DisconnectNamedPipe(m_connection->pipe)) {
            std::printf("DisconnectNamedPipe failed with %lu.\n", GetLastError());
        }
        CloseHandle(m_connection->pipe);
        GlobalFree(m_connection);
    }
    ConnectionOwner(const ConnectionOwner&) = delete;
    ConnectionOwner& operator=(const ConnectionOwner&) = delete;

    PipeConnection* operator->() const noexcept { return m_connection; }
    // The connection's next I/O is queued: its completion routine owns it now.
    void handOver() noexcept { m_connection = nullptr; }

private:
    PipeConnection* m_connection;
};

void WINAPI readCompleted(DWORD error, DWORD bytesRead, LPOVERLAPPED overlapped);
void WINAPI writeCompleted(DWORD error, DWORD bytesWritten, LPOVERLAPPED overlapped);

void startRead(ConnectionOwner& connection) {
    // A request already waiting that is longer than the buffer makes ReadFileEx return
    // FALSE with ERROR_MORE_DATA, yet the read completes and its completion routine
    // is queued all the same: that routine owns the connection and closes it.
    if (ReadFileEx(connection->pipe, connection->request, kBufferBytes, &connection->overlapped, readCompleted) ||
        GetLastError() == ERROR_MORE_DATA) {
        connection.handOver();
    }
}

// Runs inside a completion routine: nothing may unwind out of it.
void handToJava(const unsigned char* request, DWORD bytes) noexcept {
    guarded("Pipe request", [&] {
        std::fflush(stdout);
        JNIEnv* env = environmentOfThisThread();
        if (env == nullptr) {
            std::printf("Failed to attach the pipe thread to the Java virtual machine\n");
            return;
        }
        const std::string text = requestToJavaText(request, bytes);
        callOnJumpListClick(env, text.c_str());
    });
}

// A request longer than the buffer completes with ERROR_MORE_DATA, a client that
// leaves completes with an error too, and an empty request carries no text: each of
// them ends the connection without a call.
void WINAPI readCompleted(DWORD error, DWORD bytesRead, LPOVERLAPPED overlapped) {
    ConnectionOwner connection(reinterpret_cast<PipeConnection*>(overlapped));
    if (error != 0 || bytesRead == 0) {
        return;
    }
    handToJava(connection->request, bytesRead);
    // The reply goes out after the host's call has returned: a client that waits for
    // it knows its command line has been dealt with.
    if (WriteFileEx(connection->pipe, connection->request, connection->replyLength, &connection->overlapped,
                    writeCompleted)) {
        connection.handOver();
    }
}

void WINAPI writeCompleted(DWORD error, DWORD bytesWritten, LPOVERLAPPED overlapped) {
    ConnectionOwner connection(reinterpret_cast<PipeConnection*>(overlapped));
    if (error == 0 && bytesWritten == connection->replyLength) {
        startRead(connection);
    }
}

// Windows before Vista refuses PIPE_REJECT_REMOTE_CLIENTS as an invalid parameter;
// there the pipe is made without it. Only the server thread reads and writes this.
bool g_rejectRemoteSupported = true;

HANDLE createInstance() {
    for (;;) {
        const DWORD mode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT |
                           (g_rejectRemoteSupported ? PIPE_REJECT_REMOTE_CLIENTS : 0);
        HANDLE pipe = CreateNamedPipeW(kPipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, mode,
                                       PIPE_UNLIMITED_INSTANCES, kBufferBytes, kBufferBytes, kDefaultTimeoutMs,
                                       nullptr);
        if (pipe == INVALID_HANDLE_VALUE && g_rejectRemoteSupported && GetLastError() == ERROR_INVALID_PARAMETER) {
            g_rejectRemoteSupported = false;
            continue;
        }
        return pipe;
    }
}

// Starts connecting `pipe` to the next client; false when the instance cannot serve.
bool startConnect(HANDLE pipe, OVERLAPPED& overlapped, bool& pending) {
    pending = false;
    if (ConnectNamedPipe(pipe, &overlapped)) {
        // An overlapped connect never succeeds at once; this one did something else.
        std::printf("ConnectNamedPipe failed with %lu.\n", GetLastError());
        return false;
    }
    switch (GetLastError()) {
    case ERROR_IO_PENDING:
        pending = true;
        return true;
    case ERROR_PIPE_CONNECTED:
        // A client came between creating the instance and connecting it.
        if (SetEvent(overlapped.hEvent)) {
            return true;
        }
        std::printf("ConnectNamedPipe failed with %lu.\n", GetLastError());
        return false;
    default:
        std::printf("ConnectNamedPipe failed with %lu.\n", GetLastError());
        return false;
    }
}

// An instance that waits for the next client, with its connect started. An instance
// that cannot be connected is never served. It is closed only once the next instance
// exists: while the name has an instance, a client that comes meanwhile finds the
// pipe busy and waits for it, where a moment without one would tell it that no
// server runs, and its command line would be lost.
platform::UniqueFileHandle waitingInstance(OVERLAPPED& overlapped, bool& pending) {
    platform::UniqueFileHandle refused;
    for (int attempt = 0;; ++attempt) {
        if (attempt >= kAttemptsWithoutPause) {
            SleepEx(kRetryPauseMs, TRUE);
        }
        platform::UniqueFileHandle pipe(createInstance());
        if (!pipe) {
            std::printf("CreateNamedPipe failed with %lu.\n", GetLastError());
            continue;
        }
        refused.reset();
        if (startConnect(pipe.get(), overlapped, pending)) {
            return pipe;
        }
        refused = std::move(pipe);
    }
}

DWORD serve() {
    platform::UniqueHandle event(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    if (!event) {
        std::printf("CreateEvent failed with %lu.\n", GetLastError());
        return 0;
    }
    OVERLAPPED connect{};
    connect.hEvent = event.get();
    bool pending = false;
    platform::UniqueFileHandle pipe = waitingInstance(connect, pending);
    for (;;) {
        // Completion routines of connected clients run inside this wait.
        DWORD wait = WAIT_IO_COMPLETION;
        while (wait == WAIT_IO_COMPLETION) {
            wait = WaitForSingleObjectEx(event.get(), INFINITE, TRUE);
        }
        if (wait != WAIT_OBJECT_0) {
            std::printf("WaitForSingleObjectEx (%lu)\n", GetLastError());
            return 0;
        }
        if (pending) {
            DWORD ignored = 0;
            if (!GetOverlappedResult(pipe.get(), &connect, &ignored, FALSE)) {
                std::printf("ConnectNamedPipe (%lu)\n", GetLastError());
                return 0;
            }
        }
        // The next instance waits before this client is served: a client that has
        // already left has its connection closed at once, and the pipe name, which
        // lives only as long as one of its instances, must not lapse meanwhile.
        platform::UniqueFileHandle connected = std::move(pipe);
        pipe = waitingInstance(connect, pending);
        auto* block = static_cast<PipeConnection*>(GlobalAlloc(GPTR, sizeof(PipeConnection)));
        if (block == nullptr) {
            std::printf("GlobalAlloc failed (%lu)\n", GetLastError());
            return 0;
        }
        block->pipe = connected.release();
        block->replyLength = 0;
        ConnectionOwner connection(block);
        startRead(connection);
    }
}

DWORD WINAPI serverThread(void*) { return guarded("Pipe server thread", DWORD{0}, [] { return serve(); }); }

}  // namespace

bool startPipeServer() {
    platform::UniqueHandle thread(CreateThread(nullptr, 0, serverThread, nullptr, 0, nullptr));
    if (!thread) {
        std::printf("CreateThread failed with %lu.\n", GetLastError());
        return false;
    }
    return true;
}

}  // namespace taskbar
