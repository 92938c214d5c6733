// The socket layer on BSD sockets (the native build).
#include "link/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

int net_startup() { return 1; }
void net_cleanup() {}

NetSocket net_tcp_socket() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    return s < 0 ? NET_NO_SOCKET : static_cast<NetSocket>(s);
}

uint32_t net_inet_addr(const char* text) {
    in_addr address;
    if (inet_aton(text, &address) == 0) return 0xFFFFFFFFu;
    return address.s_addr;
}

int net_resolve(const char* name, uint32_t* address) {
    // getaddrinfo rather than gethostbyname: it is safe to call from any thread.
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) return 0;
    int ok = 0;
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
            *address = reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
            ok = 1;
            break;
        }
    }
    freeaddrinfo(found);
    return ok;
}

int net_connect(NetSocket s, uint32_t address, uint16_t port) {
    sockaddr_in target;
    std::memset(&target, 0, sizeof target);
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = address;
    int result;
    do {
        result = connect(static_cast<int>(s), reinterpret_cast<sockaddr*>(&target), sizeof target);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? 1 : 0;
}

void net_set_nodelay(NetSocket s) {
    int one = 1;
    setsockopt(static_cast<int>(s), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void net_set_nonblocking(NetSocket s) {
    int flags = fcntl(static_cast<int>(s), F_GETFL, 0);
    if (flags >= 0) fcntl(static_cast<int>(s), F_SETFL, flags | O_NONBLOCK);
}

static int would_block() { return errno == EAGAIN || errno == EWOULDBLOCK; }

int net_send(NetSocket s, const void* data, int length) {
    if (s == NET_NO_SOCKET) return -1;
    ssize_t result;
    // MSG_NOSIGNAL: a peer that has gone away must fail the send, not kill
    // the process with SIGPIPE.
    do {
        result = send(static_cast<int>(s), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    } while (result < 0 && errno == EINTR);
    if (result < 0) return would_block() ? NET_WOULD_BLOCK : -1;
    return result == 0 ? -1 : static_cast<int>(result);
}

int net_recv(NetSocket s, void* data, int length) {
    if (s == NET_NO_SOCKET) return -1;
    ssize_t result;
    do {
        result = recv(static_cast<int>(s), data, static_cast<size_t>(length), 0);
    } while (result < 0 && errno == EINTR);
    if (result < 0) return would_block() ? NET_WOULD_BLOCK : -1;
    return static_cast<int>(result);
}

int net_wait(NetSocket s, int for_write, uint32_t timeout_ms) {
    if (s == NET_NO_SOCKET) return -1;
    pollfd p;
    p.fd = static_cast<int>(s);
    p.events = static_cast<short>(POLLIN | (for_write ? POLLOUT : 0));
    p.revents = 0;
    int result = poll(&p, 1, static_cast<int>(timeout_ms));
    if (result < 0) return errno == EINTR ? 0 : -1;
    if (result == 0) return 0;
    // A closed or failed socket counts as ready: the next call on it reports why.
    return (p.revents & POLLNVAL) != 0 ? -1 : 1;
}

void net_close(NetSocket s) {
    if (s == NET_NO_SOCKET) return;
    shutdown(static_cast<int>(s), SHUT_RDWR);
    close(static_cast<int>(s));
}

void net_wake(NetSocket s) {
    if (s == NET_NO_SOCKET) return;
    // close() would not wake a recv() blocked in another thread, and would
    // free the descriptor number while that thread still uses it;
    // shutdown() makes the recv return 0 and every later call fail.
    shutdown(static_cast<int>(s), SHUT_RDWR);
}

void net_close_after_wake(NetSocket s) {
    if (s == NET_NO_SOCKET) return;
    close(static_cast<int>(s));
}
