// A UDP socket that receives one GameStream media stream: the host sends
// only to the address its pings come from, so the socket pings the host's
// port every 500 ms for as long as it lives, and takes datagrams from the
// host's address only.
//
// Ping: the 16 characters of X-SS-Ping-Payload and a BE u32 counter from 1,
// or the 4 bytes "PING" when the host gave no payload.
#ifndef QV_SERVER_MOONLIGHT_UDP_LINK_H
#define QV_SERVER_MOONLIGHT_UDP_LINK_H

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace qvs {

class UdpLink {
public:
    UdpLink() = default;
    ~UdpLink();
    // False with an English reason when the host's address does not
    // resolve or no socket can be had.
    bool open(const std::string& host, int port, const std::string& ping_payload, std::string* why);
    // Pings when one is due, then waits up to wait_ms for a datagram from the
    // host; its length, or 0 when none came.
    size_t receive(uint8_t* buffer, size_t size, int wait_ms);

    UdpLink(const UdpLink&) = delete;
    UdpLink& operator=(const UdpLink&) = delete;

private:
    void ping();

    int fd_ = -1;
    sockaddr_storage host_{};
    socklen_t host_len_ = 0;
    std::string payload_;
    uint32_t count_ = 0;
    int64_t next_ping_ = 0;
};

}  // namespace qvs

#endif
