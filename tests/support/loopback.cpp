// The loopback test server: BSD sockets natively, Winsock under Wine.
#include "tests/support/loopback.h"

#ifdef _WIN32
#include <winsock.h>
typedef int SocketLength;
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

#include <chrono>
#include <cstring>

#include "core/client_state.h"
#include "link/net.h"
#include "link/wire.h"

bool Loopback::open() {
    close();
    if (!net_startup()) return false;
    listener_ = static_cast<intptr_t>(socket(AF_INET, SOCK_STREAM, 0));
    if (listener_ < 0) return false;
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
    if (listen(listener_, 1) != 0) return false;
    SocketLength size = sizeof address;
    if (getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) return false;

    NetSocket client = net_tcp_socket();
    if (client == NET_NO_SOCKET) return false;
    if (!net_connect(client, net_inet_addr("127.0.0.1"), ntohs(address.sin_port))) {
        net_close(client);
        return false;
    }
    server_ = static_cast<intptr_t>(accept(listener_, nullptr, nullptr));
    if (server_ < 0) {
        net_close(client);
        return false;
    }
    state.sock.store(client);
    state.connected.store(1);
    return true;
}

void Loopback::close() {
    NetSocket client = state.sock.exchange(NET_NO_SOCKET);
    if (client != NET_NO_SOCKET) net_close(client);
    state.connected.store(0);
    if (server_ >= 0) close_socket(server_);
    if (listener_ >= 0) close_socket(listener_);
    server_ = -1;
    listener_ = -1;
}

std::vector<uint8_t> Loopback::read(size_t n, int timeout_ms) {
    std::vector<uint8_t> bytes(n);
    size_t got = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (got < n) {
        auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0 || server_ < 0) return {};
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(server_, &readable);
        timeval wait;
        wait.tv_sec = static_cast<long>(left / 1000000);
        wait.tv_usec = static_cast<long>(left % 1000000);
        if (select(static_cast<int>(server_ + 1), &readable, nullptr, nullptr, &wait) != 1) return {};
        int r = recv(server_, reinterpret_cast<char*>(bytes.data() + got), static_cast<int>(n - got), 0);
        if (r <= 0) return {};
        got += static_cast<size_t>(r);
    }
    return bytes;
}

SentMessage Loopback::next(int timeout_ms) {
    SentMessage message;
    std::vector<uint8_t> header = read(5, timeout_ms);
    if (header.size() != 5) return message;
    uint32_t length = header[0] | (header[1] << 8) | (header[2] << 16) |
                      (static_cast<uint32_t>(header[3]) << 24);
    if (length > 1024) return message;  // no input message is that long
    message.payload = length == 0 ? std::vector<uint8_t>() : read(length, timeout_ms);
    if (message.payload.size() != length) return SentMessage();
    message.type = header[4];
    return message;
}

std::vector<SentMessage> Loopback::until_marker(int timeout_ms) {
    std::vector<SentMessage> messages;
    for (int i = 0; i < 256; i++) {
        SentMessage m = next(timeout_ms);
        if (m.type == MSG_MENU_REQUEST && m.payload.empty()) break;
        messages.push_back(m);  // a time-out shows as type 0 and ends the list
        if (m.type == 0) break;
    }
    return messages;
}

void Loopback::send_marker() { send_message(MSG_MENU_REQUEST, nullptr, 0); }
