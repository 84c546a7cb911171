// A thread that reads a datagram socket as soon as something arrives on it, while the
// thread that owns the socket is busy or asleep elsewhere (a call thread waiting for
// its next poll step).
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "platform/udp_socket.h"

namespace platform {

class DatagramReader {
  public:
    DatagramReader() = default;
    ~DatagramReader() { stop(); }
    DatagramReader(const DatagramReader&) = delete;
    DatagramReader& operator=(const DatagramReader&) = delete;

    // Calls `drain` on a thread of its own each time `socket` has something waiting;
    // `drain` reads everything that waits and must not throw. The socket must stay open
    // until stop() has returned. False (and no thread) when no thread could be started,
    // or when one already runs.
    bool start(const UdpSocket& socket, std::function<void()> drain) noexcept;
    // Ends the thread (within one wait slice) and waits for it. Safe to repeat.
    void stop() noexcept;
    bool running() const noexcept { return m_thread.joinable(); }

  private:
    // How long one wait lasts: the longest that stop() may have to wait.
    static constexpr int kSliceMs = 20;

    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace platform
