#include "platform/datagram_reader.h"

#include <system_error>

namespace platform {

bool DatagramReader::start(const UdpSocket& socket, std::function<void()> drain) noexcept {
    if (running()) {
        return false;
    }
    m_stop.store(false, std::memory_order_relaxed);
    try {
        m_thread = std::thread([this, &socket, drain = std::move(drain)] {
            while (!m_stop.load(std::memory_order_acquire)) {
                if (socket.waitReadable(kSliceMs)) {
                    drain();
                }
            }
        });
    } catch (const std::exception&) {
        return false;  // out of threads or memory: the owner reads the socket itself
    }
    return true;
}

void DatagramReader::stop() noexcept {
    m_stop.store(true, std::memory_order_release);
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

}  // namespace platform
