// A small TCP peer on 127.0.0.1 for native tests: it plays the server
// program (listen, accept, read and write raw bytes) so that the client's
// real socket code runs against it. Every wait has a time limit.
#ifndef QV_TESTS_SUPPORT_FAKE_SERVER_H
#define QV_TESTS_SUPPORT_FAKE_SERVER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

// Waits until condition() holds, checking every millisecond; false on time-out.
inline bool wait_until(const std::function<bool()>& condition, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class FakeServer {
public:
    FakeServer() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address;
        std::memset(&address, 0, sizeof address);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 8);
        socklen_t size = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~FakeServer() {
        drop_client();
        if (listener_ >= 0) close(listener_);
    }
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    uint16_t port() const { return port_; }
    int client() const { return client_; }

    // Stops listening: later connects are refused.
    void stop_listening() {
        if (listener_ >= 0) close(listener_);
        listener_ = -1;
    }

    // Accepts one connection (dropping any earlier one); false on time-out.
    bool accept_client(int timeout_ms) {
        drop_client();
        pollfd p = {listener_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) != 1) return false;
        client_ = accept(listener_, nullptr, nullptr);
        if (client_ < 0) return false;
        int one = 1;
        setsockopt(client_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return true;
    }

    // Closes the accepted connection (the client sees the peer close).
    void drop_client() {
        if (client_ >= 0) close(client_);
        client_ = -1;
    }

    // Reads exactly n bytes; an empty vector on time-out or close.
    std::vector<uint8_t> read_exact(size_t n, int timeout_ms) {
        std::vector<uint8_t> bytes(n);
        size_t got = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (got < n) {
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count());
            if (left <= 0) return {};
            pollfd p = {client_, POLLIN, 0};
            if (poll(&p, 1, left) != 1) return {};
            ssize_t r = recv(client_, bytes.data() + got, n - got, 0);
            if (r <= 0) return {};
            got += static_cast<size_t>(r);
        }
        return bytes;
    }

    // Reads one framed message (header and payload); false on time-out.
    bool read_message(uint8_t* type, std::vector<uint8_t>* payload, int timeout_ms) {
        std::vector<uint8_t> header = read_exact(5, timeout_ms);
        if (header.size() != 5) return false;
        uint32_t length = header[0] | (header[1] << 8) | (header[2] << 16) |
                          (static_cast<uint32_t>(header[3]) << 24);
        *type = header[4];
        *payload = length == 0 ? std::vector<uint8_t>() : read_exact(length, timeout_ms);
        return payload->size() == length;
    }

    // True when the client closed its end within the time limit.
    bool wait_client_closed(int timeout_ms) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        uint8_t scratch[4096];
        for (;;) {
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count());
            if (left <= 0) return false;
            pollfd p = {client_, POLLIN, 0};
            if (poll(&p, 1, left) != 1) return false;
            ssize_t r = recv(client_, scratch, sizeof scratch, 0);
            if (r <= 0) return true;
        }
    }

    bool send_bytes(const std::vector<uint8_t>& bytes) { return send_raw(bytes.data(), bytes.size()); }

    bool send_raw(const uint8_t* data, size_t n) {
        size_t sent = 0;
        while (sent < n) {
            ssize_t r = send(client_, data + sent, n - sent, MSG_NOSIGNAL);
            if (r <= 0) return false;
            sent += static_cast<size_t>(r);
        }
        return true;
    }

    bool send_message(uint8_t type, const std::vector<uint8_t>& payload) {
        return send_bytes(frame(type, payload));
    }

    static std::vector<uint8_t> frame(uint8_t type, const std::vector<uint8_t>& payload) {
        uint32_t n = static_cast<uint32_t>(payload.size());
        std::vector<uint8_t> bytes = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                                      static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 24),
                                      type};
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        return bytes;
    }

private:
    int listener_ = -1;
    int client_ = -1;
    uint16_t port_ = 0;
};

#endif
