#include "tools/qelcall/udp_arrival.h"

#include <chrono>

#if defined(__linux__)
#include <arpa/inet.h>
#include <dirent.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#endif

namespace qelcall {

#if defined(__linux__)

bool UdpArrival::find(uint16_t serverPort) {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return false;
    }
    m_fd = -1;
    for (const dirent* entry; m_fd < 0 && (entry = readdir(dir)) != nullptr;) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        struct stat st {};
        if (*end != '\0' || fstat(static_cast<int>(fd), &st) != 0 || !S_ISSOCK(st.st_mode)) {
            continue;
        }
        int type = 0;
        socklen_t typeLength = sizeof type;
        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        if (getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_TYPE, &type, &typeLength) == 0 &&
            type == SOCK_DGRAM &&
            getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0 &&
            peer.sin_family == AF_INET && ntohs(peer.sin_port) == serverPort) {
            m_fd = static_cast<int>(fd);
        }
    }
    closedir(dir);
    return m_fd >= 0;
}

int64_t UdpArrival::lastArrivalUs() const {
    timespec stamp{};
    if (m_fd < 0 || ioctl(m_fd, SIOCGSTAMPNS, &stamp) != 0) {
        return 0;
    }
    // The stamp is wall-clock time; how long ago that was, taken off the steady clock.
    timespec wall{};
    clock_gettime(CLOCK_REALTIME, &wall);
    const auto steadyNow = std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
    const int64_t agoUs = (static_cast<int64_t>(wall.tv_sec) - stamp.tv_sec) * 1000000 +
                          (static_cast<int64_t>(wall.tv_nsec) - stamp.tv_nsec) / 1000;
    return steadyNow - agoUs;
}

#else

bool UdpArrival::find(uint16_t) { return false; }
int64_t UdpArrival::lastArrivalUs() const { return 0; }

#endif

}  // namespace qelcall
