// The loopback test server: BSD sockets natively, Winsock under Wine.
#include "tests/support/loopback.h"

#ifdef _WIN32
#include <winsock.h>
typedef int SocketLength;
#define MSG_NOSIGNAL 0
static void close_socket(intptr_t s) { closesocket(SOCKET(s)); }
#else
#include <arpa/inet.h>
#include <sys/select.h>
#include <unistd.h>
typedef socklen_t SocketLength;
static void close_socket(intptr_t s) { ::close(int(s)); }
#endif

#include <cstdio>
#include <cstring>

#include "link/net.h"
#include "link/wire.h"

static bool ready(intptr_t s, int timeout_ms) {
    if (s < 0 || timeout_ms < 0) return false;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval wait = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    return select(int(s + 1), &set, nullptr, nullptr, &wait) == 1;
}

bool Loopback::listen() {
    if (listener_ >= 0) return true;
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    SocketLength size = sizeof address;
    return net_startup() && (listener_ = intptr_t(socket(AF_INET, SOCK_STREAM, 0))) >= 0 &&
           bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(listener_, 4) == 0 &&
           getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) == 0 && (port_ = ntohs(address.sin_port)) > 0;
}

bool Loopback::shrink_receive_buffer(int bytes) {
    return setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes) == 0;
}

bool Loopback::accept(int timeout_ms) {
    drop();
    return ready(listener_, timeout_ms) && (server_ = intptr_t(::accept(listener_, nullptr, nullptr))) >= 0;
}

bool Loopback::open() {
    NetSocket client = listen() ? net_tcp_socket() : NET_NO_SOCKET;
    if (client == NET_NO_SOCKET || !net_connect(client, net_inet_addr("127.0.0.1"), port_) || !accept(2000)) {
        if (client != NET_NO_SOCKET) net_close(client);
        return false;
    }
    state.sock.store(client);
    state.connected.store(1);
    return opened_client_ = true;
}

void Loopback::drop() {
    if (server_ >= 0) close_socket(server_);
    server_ = -1;
}

void Loopback::close() {
    NetSocket client = opened_client_ ? state.sock.exchange(NET_NO_SOCKET) : NET_NO_SOCKET;
    if (client != NET_NO_SOCKET) net_close(client);
    if (opened_client_) state.connected.store(0);
    opened_client_ = false;
    drop();
    if (listener_ >= 0) close_socket(listener_);
    listener_ = -1;
}

bool Loopback::send(const std::vector<uint8_t>& bytes) {
    for (size_t sent = 0, r; sent < bytes.size(); sent += r)
        if (int(r = size_t(::send(server_, reinterpret_cast<const char*>(&bytes[sent]), int(bytes.size() - sent), MSG_NOSIGNAL))) <= 0)
            return false;
    return true;
}

std::vector<uint8_t> Loopback::read(size_t n, int timeout_ms) {
    std::vector<uint8_t> bytes(n);
    uint32_t start = tick_count();
    for (size_t got = 0; got < n;) {
        int left = timeout_ms - int(tick_count() - start), r = 0;
        if (left <= 0 || !ready(server_, left) || (r = recv(server_, reinterpret_cast<char*>(&bytes[got]), int(n - got), 0)) <= 0)
            return {};
        got += size_t(r);
    }
    return bytes;
}

SentMessage Loopback::next(int timeout_ms) {
    std::vector<uint8_t> header = read(5, timeout_ms);
    SentMessage m;
    if (header.size() == 5 && get_u32le(header.data()) <= 1024) {  // no client message is longer
        m.payload = read(get_u32le(header.data()), timeout_ms);
        if (m.payload.size() == get_u32le(header.data())) m.type = header[4];
    }
    return m;
}

bool Loopback::closed_by_client(int timeout_ms) {
    char scratch[4096];
    for (uint32_t start = tick_count(); ready(server_, timeout_ms - int(tick_count() - start));)
        if (recv(server_, scratch, sizeof scratch, 0) <= 0) return true;
    return false;
}

std::string Loopback::sent() {
    send_message(MSG_HELLO, nullptr, 0);
    std::string out;
    char hex[4];
    for (SentMessage m; (m = next()).type != 0 && !(m.type == MSG_HELLO && m.payload.empty());) {
        std::snprintf(hex, sizeof hex, "%02x", m.type);
        out += (out.empty() ? "" : "|") + std::string(hex);
        for (uint8_t b : m.payload) std::snprintf(hex, sizeof hex, " %02x", b), out += hex;
    }
    return out;
}
