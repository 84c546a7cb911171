// A connected TCP stream for tools that talk to a server directly (the headless call
// tool); the voice engine itself leaves TCP to its Java host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class TcpStream {
  public:
    enum class Status { ok, wouldBlock, closed, failed };

    TcpStream() = default;
    ~TcpStream() { close(); }
    TcpStream(TcpStream&& other) noexcept : m_handle(other.m_handle) { other.m_handle = kInvalid; }
    TcpStream& operator=(TcpStream&& other) noexcept;
    TcpStream(const TcpStream&) = delete;
    TcpStream& operator=(const TcpStream&) = delete;

    // Connects to host:port (blocking: the caller cannot go on without the connection),
    // then makes the stream non-blocking with Nagle's delay off. On failure the stream
    // is closed and `error` says why.
    static TcpStream connect(const std::string& host, uint16_t port, std::string& error);

    bool isOpen() const noexcept { return m_handle != kInvalid; }
    void close() noexcept;

    // What has arrived, up to `capacity` bytes; Status::closed when the peer ended the
    // stream.
    Status receive(void* buffer, size_t capacity, size_t& received) noexcept;
    // Sends all `length` bytes, waiting while the system's send buffer is full; false
    // when the connection failed.
    bool sendAll(const void* data, size_t length) noexcept;

  private:
    static constexpr intptr_t kInvalid = -1;
    explicit TcpStream(intptr_t handle) noexcept : m_handle(handle) {}
    void setNoDelay() noexcept;
    intptr_t m_handle = kInvalid;
};

}  // namespace platform
