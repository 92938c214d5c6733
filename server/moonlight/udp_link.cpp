#include "server/moonlight/udp_link.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "server/log.h"
#include "server/moonlight/byte_order.h"

namespace qvs {

namespace {

const int PING_EVERY_MS = 500;
// Room for a burst of a large frame's packets while the thread decodes.
const int RECEIVE_BUFFER = 2048 * 1500;

bool same_host(const sockaddr_storage& a, const sockaddr_storage& b) {
    if (a.ss_family != b.ss_family) return false;
    if (a.ss_family == AF_INET)
        return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in&>(b).sin_addr.s_addr;
    return std::memcmp(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr,
                       &reinterpret_cast<const sockaddr_in6&>(b).sin6_addr, 16) == 0;
}

}  // namespace

UdpLink::~UdpLink() {
    if (fd_ >= 0) close(fd_);
}

bool UdpLink::open(const std::string& host, int port, const std::string& ping_payload, std::string* why) {
    addrinfo hints{}, *found = nullptr;
    hints.ai_socktype = SOCK_DGRAM;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        *why = "cannot resolve " + loggable(host);
        return false;
    }
    std::memcpy(&host_, found->ai_addr, found->ai_addrlen);
    host_len_ = found->ai_addrlen;
    fd_ = socket(found->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    freeaddrinfo(found);
    if (fd_ < 0) {
        *why = std::string("UDP socket: ") + std::strerror(errno);
        return false;
    }
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &RECEIVE_BUFFER, sizeof RECEIVE_BUFFER);
    payload_ = ping_payload;
    return true;
}

void UdpLink::ping() {
    uint8_t message[20];
    size_t n = 4;
    if (payload_.size() == 16) {
        std::memcpy(message, payload_.data(), 16);
        put_be32(message + 16, ++count_);
        n = 20;
    } else {
        std::memcpy(message, "PING", 4);
    }
    sendto(fd_, message, n, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&host_), host_len_);
}

size_t UdpLink::receive(uint8_t* buffer, size_t size, int wait_ms) {
    if (now_ms() >= next_ping_) {
        ping();
        next_ping_ = now_ms() + PING_EVERY_MS;
    }
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, wait_ms) != 1) return 0;
    sockaddr_storage from{};
    socklen_t from_len = sizeof from;
    ssize_t n = recvfrom(fd_, buffer, size, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &from_len);
    // A datagram larger than the buffer is no shard of ours.
    if (n <= 0 || size_t(n) > size || !same_host(from, host_)) return 0;
    return size_t(n);
}

}  // namespace qvs
