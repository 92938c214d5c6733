// A test server on 127.0.0.1 (natively and under Wine); every wait has a limit.
#ifndef QV_TESTS_SUPPORT_LOOPBACK_H
#define QV_TESTS_SUPPORT_LOOPBACK_H

#include <cstdint>
#include <string>
#include <vector>

struct SentMessage {
    uint8_t type = 0;  // 0: none came in time
    std::vector<uint8_t> payload;
};

class Loopback {
public:
    ~Loopback() { close(); }
    bool listen();
    // Sets SO_RCVBUF on the listener, so that accepted links get it.
    bool shrink_receive_buffer(int bytes);
    uint16_t port() const { return port_; }
    // Accepts the next connection, dropping an earlier one.
    bool accept(int timeout_ms);
    // listen, connect the client's socket layer, accept: sets state.sock, connected.
    bool open();
    void drop();   // closes the accepted connection
    void close();  // closes everything, and what open() made
    bool send(const std::vector<uint8_t>& bytes);
    // Exactly n bytes within the limit, or none.
    std::vector<uint8_t> read(size_t n, int timeout_ms = 2000);
    SentMessage next(int timeout_ms = 2000);
    // True when the client closed its end within the limit.
    bool closed_by_client(int timeout_ms);
    // What the client sent before a marker (an empty Hello), as hex: "45 01 01|46 78 00".
    std::string sent();

private:
    intptr_t listener_ = -1, server_ = -1;
    uint16_t port_ = 0;
    bool opened_client_ = false;
};

#endif
