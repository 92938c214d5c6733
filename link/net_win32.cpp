// The socket layer on Windows Sockets 1.1 (WSOCK32), as Windows 98 has it.
#include "link/net.h"

#include <windows.h>
#include <winsock.h>

#include <cstring>

static SOCKET to_socket(NetSocket s) { return static_cast<SOCKET>(s); }

int net_startup() {
    WSADATA data;
    return WSAStartup(0x0101, &data) == 0 ? 1 : 0;
}

void net_cleanup() { WSACleanup(); }

NetSocket net_tcp_socket() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return NET_NO_SOCKET;
    return static_cast<NetSocket>(s);
}

uint32_t net_inet_addr(const char* text) {
    return static_cast<uint32_t>(inet_addr(text));
}

int net_resolve(const char* name, uint32_t* address) {
    // The result lives in Winsock's per-thread storage until the next call
    // on this thread; the first address is copied out at once.
    hostent* found = gethostbyname(name);
    if (found == nullptr || found->h_addrtype != AF_INET || found->h_length != 4 ||
        found->h_addr_list == nullptr || found->h_addr_list[0] == nullptr) {
        return 0;
    }
    std::memcpy(address, found->h_addr_list[0], 4);
    return 1;
}

int net_connect(NetSocket s, uint32_t address, uint16_t port) {
    sockaddr_in target;
    std::memset(&target, 0, sizeof target);
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = address;
    return connect(to_socket(s), reinterpret_cast<sockaddr*>(&target), sizeof target) == 0 ? 1 : 0;
}

void net_set_nodelay(NetSocket s) {
    BOOL one = 1;  // a 4-byte value, as the option wants
    setsockopt(to_socket(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
               sizeof one);
}

void net_set_nonblocking(NetSocket s) {
    u_long one = 1;
    ioctlsocket(to_socket(s), FIONBIO, &one);
}

static int failure() { return WSAGetLastError() == WSAEWOULDBLOCK ? NET_WOULD_BLOCK : -1; }

int net_send(NetSocket s, const void* data, int length) {
    if (s == NET_NO_SOCKET) return -1;
    int result = send(to_socket(s), static_cast<const char*>(data), length, 0);
    if (result == SOCKET_ERROR) return failure();
    return result == 0 ? -1 : result;
}

int net_recv(NetSocket s, void* data, int length) {
    if (s == NET_NO_SOCKET) return -1;
    int result = recv(to_socket(s), static_cast<char*>(data), length, 0);
    if (result == SOCKET_ERROR) return failure();
    return result;
}

int net_wait(NetSocket s, int for_write, uint32_t timeout_ms) {
    if (s == NET_NO_SOCKET) return -1;
    // One socket per set, filled by hand: the result alone says whether it
    // is ready, so FD_ISSET is not needed.
    fd_set readable;
    readable.fd_count = 1;
    readable.fd_array[0] = to_socket(s);
    fd_set writable;
    writable.fd_count = 1;
    writable.fd_array[0] = to_socket(s);
    timeval limit;
    limit.tv_sec = static_cast<long>(timeout_ms / 1000);
    limit.tv_usec = static_cast<long>(timeout_ms % 1000) * 1000;
    // A socket closed under the wait (F10, shutdown) fails it.
    int result = select(0, &readable, for_write ? &writable : nullptr, nullptr, &limit);
    if (result == SOCKET_ERROR) return -1;
    return result > 0 ? 1 : 0;
}

void net_close(NetSocket s) {
    if (s == NET_NO_SOCKET) return;
    closesocket(to_socket(s));
}

void net_wake(NetSocket s) {
    if (s == NET_NO_SOCKET) return;
    // Winsock cancels a blocking call of another thread only when the
    // socket is closed; shutdown first ends the stream in order.
    shutdown(to_socket(s), 2);  // SD_BOTH; winsock.h of 1.1 does not name it
    closesocket(to_socket(s));
}

void net_close_after_wake(NetSocket s) {
    (void)s;  // net_wake has given the handle back already
}
