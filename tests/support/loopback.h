// A test server on 127.0.0.1 that works natively and under Wine: it
// connects the client's own socket layer (state.sock) to a listening socket
// and lets the test read what the client sent, as framed messages.
#ifndef QV_TESTS_SUPPORT_LOOPBACK_H
#define QV_TESTS_SUPPORT_LOOPBACK_H

#include <cstdint>
#include <ostream>
#include <vector>

struct SentMessage {
    uint8_t type = 0;
    std::vector<uint8_t> payload;
    bool operator==(const SentMessage& other) const {
        return type == other.type && payload == other.payload;
    }
};

// How a failed comparison shows a message.
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

    // Makes the pair, stores the client end in state.sock and sets
    // state.connected to 1. False when any step fails.
    bool open();
    // Closes both ends; state.sock becomes -1 and state.connected 0.
    void close();

    // Exactly n bytes within timeout_ms, or an empty vector.
    std::vector<uint8_t> read(size_t n, int timeout_ms);
    // The next framed message; type 0 and an empty payload on time-out.
    SentMessage next(int timeout_ms = 2000);
    // The messages up to (not including) a marker: the test sends a marker
    // message after the calls under test, so "nothing sent" needs no wait.
    // A time-out before the marker ends the list with a type-0 entry.
    std::vector<SentMessage> until_marker(int timeout_ms = 2000);
    // Sends the marker (a MenuRequest) through send_message.
    static void send_marker();

private:
    intptr_t listener_ = -1;
    intptr_t server_ = -1;
};

#endif
