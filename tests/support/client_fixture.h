// Test set-up of the shared client state, and bytes written as hex.
#ifndef QV_TESTS_SUPPORT_CLIENT_FIXTURE_H
#define QV_TESTS_SUPPORT_CLIENT_FIXTURE_H

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/client_state.h"
#include "settings/settings.h"

typedef std::vector<uint8_t> Bytes;

// Locks made on the first call only; every field and setting back to its initial value.
inline void fresh_client_state() {
    static bool locks_ready = false;
    if (!locks_ready) client_state_init_locks();
    locks_ready = true;
    client_state_reset();
    settings_reset_defaults();
}

// "04 00 0a" -> {4, 0, 10}: wire bytes as a reader of a capture sees them.
inline Bytes hx(const char* text) {
    Bytes out;
    for (char* end = nullptr;; text = end) {
        unsigned long b = std::strtoul(text, &end, 16);
        if (end == text) return out;
        out.push_back(uint8_t(b));
    }
}

// A framed message: u32 LE length, type, payload.
inline Bytes framed(uint8_t type, const Bytes& payload) {
    uint32_t n = uint32_t(payload.size());
    Bytes out = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24), type};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

#endif
