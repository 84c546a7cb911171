// Two connected datagram sockets on loopback, through name resolution, on both
// platforms: what one sends the other receives whole; an empty socket would block.
#include <gtest/gtest.h>

#include <string>

#include "platform/clock.h"
#include "platform/udp_socket.h"

namespace platform {
namespace {

// A non-blocking socket connected to 127.0.0.1:port.
bool openTo(UdpSocket& socket, uint16_t port) {
    DatagramAddresses addresses;
    if (DatagramAddresses::resolve("127.0.0.1", std::to_string(port).c_str(), addresses) != 0 ||
        addresses.size() == 0) {
        return false;
    }
    if (!socket.isOpen() && !socket.create(addresses[0])) {
        return false;
    }
    return socket.connect(addresses[0]) && socket.setNonBlocking();
}

UdpSocket::Status receiveWithin(UdpSocket& socket, char* buffer, size_t capacity,
                                size_t& received, uint32_t ms) {
    const uint32_t deadline = nowMs() + ms;
    for (;;) {
        const UdpSocket::Status status = socket.receive(buffer, capacity, received);
        if (status != UdpSocket::Status::wouldBlock || reached(nowMs(), deadline)) {
            return status;
        }
        sleepMs(2);
    }
}

TEST(UdpSocketTest, ConnectedPairCarriesWholeDatagramsBothWays) {
    UdpSocket a;
    UdpSocket b;
    ASSERT_TRUE(openTo(a, 9)) << UdpSocket::lastErrorText();  // any peer, to get a port
    ASSERT_NE(a.localPort(), 0);
    ASSERT_TRUE(openTo(b, a.localPort())) << UdpSocket::lastErrorText();
    ASSERT_TRUE(openTo(a, b.localPort())) << UdpSocket::lastErrorText();  // re-aimed at b

    char buffer[2048];
    size_t received = 0;
    EXPECT_EQ(a.receive(buffer, sizeof buffer, received), UdpSocket::Status::wouldBlock);

    const std::string first(1400, 'x');
    ASSERT_TRUE(b.send(first.data(), first.size()));
    ASSERT_TRUE(b.send("second", 6));
    ASSERT_EQ(receiveWithin(a, buffer, sizeof buffer, received, 2000), UdpSocket::Status::ok);
    EXPECT_EQ(std::string(buffer, received), first);
    ASSERT_EQ(receiveWithin(a, buffer, sizeof buffer, received, 2000), UdpSocket::Status::ok);
    EXPECT_EQ(std::string(buffer, received), "second");

    ASSERT_TRUE(a.send("back", 4));
    ASSERT_EQ(receiveWithin(b, buffer, sizeof buffer, received, 2000), UdpSocket::Status::ok);
    EXPECT_EQ(std::string(buffer, received), "back");

    // Moving hands the socket over; the moved-from one is closed.
    UdpSocket moved = std::move(a);
    EXPECT_FALSE(a.isOpen());
    EXPECT_TRUE(moved.isOpen());
    moved.close();
    EXPECT_FALSE(moved.isOpen());
}

TEST(UdpSocketTest, UnknownHostsAreReportedWithText) {
    DatagramAddresses addresses;
    const int code = DatagramAddresses::resolve("no-such-host.invalid", "1", addresses);
    EXPECT_NE(code, 0);
    EXPECT_FALSE(DatagramAddresses::errorText(code).empty());
    EXPECT_EQ(addresses.size(), 0u);
}

}  // namespace
}  // namespace platform
