// A non-blocking, connected datagram socket, and the address lookup that feeds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// The candidates that name resolution gives for a host and a service (port) text, for
// datagram sockets of any address family. Move-only; frees the list.
class DatagramAddresses {
  public:
    struct Candidate {
        int family;
        int type;
        int protocol;
        const void* address;  // sockaddr of `addressLength` bytes
        uint32_t addressLength;
    };

    // Zero on success, else the resolver's error code (`errorText` gives its text).
    // `stream`: candidates for stream (TCP) sockets instead.
    static int resolve(const char* host, const char* service, DatagramAddresses& out,
                       bool stream = false);
    static std::string errorText(int code);

    size_t size() const noexcept;
    Candidate operator[](size_t i) const noexcept;

    DatagramAddresses();
    ~DatagramAddresses();
    DatagramAddresses(DatagramAddresses&&) noexcept;
    DatagramAddresses& operator=(DatagramAddresses&&) noexcept;

  private:
    struct List;
    std::unique_ptr<List> m_list;
};

// One socket handle; closed by the destructor.
class UdpSocket {
  public:
    enum class Status { ok, wouldBlock, failed };

    UdpSocket() = default;
    ~UdpSocket() { close(); }
    UdpSocket(UdpSocket&& other) noexcept : m_handle(other.m_handle) { other.m_handle = kInvalid; }
    UdpSocket& operator=(UdpSocket&& other) noexcept;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Each step returns false on failure, leaving the socket as it was.
    bool create(const DatagramAddresses::Candidate& candidate) noexcept;
    bool connect(const DatagramAddresses::Candidate& candidate) noexcept;
    bool setNonBlocking() noexcept;

    bool isOpen() const noexcept { return m_handle != kInvalid; }
    void close() noexcept;

    // One datagram into `buffer`; `received` is its size when Status::ok.
    Status receive(void* buffer, size_t capacity, size_t& received) noexcept;
    // Waits up to `ms` milliseconds for a datagram (or an error) to be waiting; true
    // when one is. Another thread may send on the socket meanwhile.
    bool waitReadable(int ms) const noexcept;
    // Sends one datagram (all of it); false when the system refused it.
    bool send(const void* data, size_t length) noexcept;

    // The local port the system gave the socket (it binds one on connect); 0 if none.
    uint16_t localPort() const noexcept;

    // Text of the last socket error on the calling thread.
    static std::string lastErrorText();
    // Starts the system's socket layer where it needs starting (once per process).
    static bool socketsReady() noexcept;

  private:
    static constexpr intptr_t kInvalid = -1;
    intptr_t m_handle = kInvalid;
};

}  // namespace platform
