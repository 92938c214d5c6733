// A test server on 127.0.0.1, natively and under Wine: it listens, accepts
// the client (its own socket layer, or the network thread), and reads what
// the client sent as raw bytes or framed messages. Every wait has a limit.
#ifndef QV_TESTS_SUPPORT_LOOPBACK_H
#define QV_TESTS_SUPPORT_LOOPBACK_H

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

struct SentMessage {
    uint8_t type = 0;
    std::vector<uint8_t> payload;
    bool operator==(const SentMessage& o) const { return type == o.type && payload == o.payload; }
};

inline void PrintTo(const SentMessage& m, std::ostream* out) {
    *out << "type " << int(m.type) << " {" << std::hex;
    for (uint8_t b : m.payload) *out << ' ' << int(b);
    *out << std::dec << " }";
}

class Loopback {
public:
    Loopback() = default;
    ~Loopback() { close(); }
    Loopback(const Loopback&) = delete;
    Loopback& operator=(const Loopback&) = delete;

    // Listens on a free port of 127.0.0.1.
    bool listen();
    uint16_t port() const { return port_; }
    // Accepts the next connection (dropping an earlier one).
    bool accept(int timeout_ms);
    // listen, connect the client's own socket, accept; the client end goes
    // into state.sock and state.connected becomes 1.
    bool open();
    // Closes the accepted connection (the client sees the peer close).
    void drop();
    // Closes everything, and the client end that open() made (state.sock
    // becomes -1 and state.connected 0).
    void close();

    bool send(const std::vector<uint8_t>& bytes);
    // Exactly n bytes within timeout_ms, or an empty vector.
    std::vector<uint8_t> read(size_t n, int timeout_ms = 2000);
    // The next framed message; type 0 on time-out.
    SentMessage next(int timeout_ms = 2000);
    // True when the client closed its end within the limit (data is skipped).
    bool closed_by_client(int timeout_ms);
    // The messages up to (not including) a marker that the test sends with
    // send_marker after the calls under test, so "nothing sent" needs no
    // wait (an empty Hello, which the client never sends). A time-out ends
    // the list with a type-0 entry.
    std::vector<SentMessage> until_marker(int timeout_ms = 2000);
    static void send_marker();
    // Everything the client sent before a marker sent now, as hex: type
    // and payload of each message, messages apart by '|' ("45 01 01|46 78 00").
    std::string sent();

private:
    bool readable(int timeout_ms);
    intptr_t listener_ = -1;
    intptr_t server_ = -1;
    uint16_t port_ = 0;
    bool opened_client_ = false;
};

#endif
