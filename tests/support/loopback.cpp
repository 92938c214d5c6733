// The loopback test server: BSD sockets natively, Winsock under Wine.
#include "tests/support/loopback.h"

#ifdef _WIN32
#include <winsock.h>
typedef int SocketLength;
#define MSG_NOSIGNAL 0
static void close_socket(intptr_t s) { closesocket(static_cast<SOCKET>(s)); }
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
typedef socklen_t SocketLength;
static void close_socket(intptr_t s) { ::close(static_cast<int>(s)); }
#endif

#include <cstdio>
#include <cstring>

#include "core/client_state.h"
#include "core/sys.h"
#include "link/net.h"
#include "link/wire.h"

bool Loopback::listen() {
    if (listener_ >= 0) return true;
    if (!net_startup()) return false;
    listener_ = static_cast<intptr_t>(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    SocketLength size = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 4) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return false;
    port_ = ntohs(address.sin_port);
    return true;
}

bool Loopback::accept(int timeout_ms) {
    drop();
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(listener_, &ready);
    timeval wait = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    if (select(int(listener_ + 1), &ready, nullptr, nullptr, &wait) != 1) return false;
    server_ = static_cast<intptr_t>(::accept(listener_, nullptr, nullptr));
    return server_ >= 0;
}

bool Loopback::open() {
    if (!listen()) return false;
    NetSocket client = net_tcp_socket();
    if (client == NET_NO_SOCKET) return false;
    if (!net_connect(client, net_inet_addr("127.0.0.1"), port_) || !accept(2000)) {
        net_close(client);
        return false;
    }
    state.sock.store(client);
    state.connected.store(1);
    opened_client_ = true;
    return true;
}

void Loopback::drop() {
    if (server_ >= 0) close_socket(server_);
    server_ = -1;
}

void Loopback::close() {
    if (opened_client_) {
        NetSocket client = state.sock.exchange(NET_NO_SOCKET);
        if (client != NET_NO_SOCKET) net_close(client);
        state.connected.store(0);
        opened_client_ = false;
    }
    drop();
    if (listener_ >= 0) close_socket(listener_);
    listener_ = -1;
}

bool Loopback::send(const std::vector<uint8_t>& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
        int r = ::send(server_, reinterpret_cast<const char*>(bytes.data() + sent), int(bytes.size() - sent), MSG_NOSIGNAL);
        if (r <= 0) return false;
        sent += size_t(r);
    }
    return true;
}

bool Loopback::readable(int timeout_ms) {
    if (server_ < 0) return false;
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(server_, &ready);
    timeval wait = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    return select(int(server_ + 1), &ready, nullptr, nullptr, &wait) == 1;
}

std::vector<uint8_t> Loopback::read(size_t n, int timeout_ms) {
    std::vector<uint8_t> bytes(n);
    uint32_t start = tick_count();
    for (size_t got = 0; got < n;) {
        int left = timeout_ms - int(tick_count() - start);
        if (left <= 0 || !readable(left)) return {};
        int r = recv(server_, reinterpret_cast<char*>(bytes.data() + got), int(n - got), 0);
        if (r <= 0) return {};
        got += size_t(r);
    }
    return bytes;
}

SentMessage Loopback::next(int timeout_ms) {
    SentMessage message;
    std::vector<uint8_t> header = read(5, timeout_ms);
    if (header.size() != 5) return message;
    uint32_t length = get_u32le(header.data());
    if (length > 1024) return message;  // no client message is that long
    message.payload = read(length, timeout_ms);
    if (message.payload.size() != length) return SentMessage();
    message.type = header[4];
    return message;
}

bool Loopback::closed_by_client(int timeout_ms) {
    uint32_t start = tick_count();
    char scratch[4096];
    for (int left; (left = timeout_ms - int(tick_count() - start)) > 0;) {
        if (!readable(left)) return false;
        if (recv(server_, scratch, sizeof scratch, 0) <= 0) return true;
    }
    return false;
}

std::vector<SentMessage> Loopback::until_marker(int timeout_ms) {
    std::vector<SentMessage> messages;
    for (int i = 0; i < 256; i++) {
        SentMessage m = next(timeout_ms);
        if (m.type == MSG_HELLO && m.payload.empty()) break;
        messages.push_back(m);
        if (m.type == 0) break;
    }
    return messages;
}

void Loopback::send_marker() { send_message(MSG_HELLO, nullptr, 0); }

std::string Loopback::sent() {
    send_marker();
    std::string out;
    char hex[4];
    for (const SentMessage& m : until_marker()) {
        if (!out.empty()) out += '|';
        std::snprintf(hex, sizeof hex, "%02x", m.type);
        out += hex;
        for (uint8_t b : m.payload) std::snprintf(hex, sizeof hex, " %02x", b), out += hex;
    }
    return out;
}
