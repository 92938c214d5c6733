#include "server/net/key_gate.h"

namespace qvs {

KeyGate& KeyGate::instance() {
    static KeyGate* gate = new KeyGate();
    return *gate;
}

bool KeyGate::check(const std::string& host, const std::string& key, const std::string& wanted, int wait_ms,
                    int64_t now_ms, int64_t* retry_ms) {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = next_try_.find(host);
    if (it != next_try_.end() && now_ms < it->second) {
        *retry_ms = it->second - now_ms;
        return false;
    }
    *retry_ms = 0;
    if (key == wanted) return true;
    // Forget addresses whose wait is over, so the table stays small.
    for (auto old = next_try_.begin(); old != next_try_.end();)
        old = old->second <= now_ms ? next_try_.erase(old) : std::next(old);
    next_try_[host] = now_ms + wait_ms;
    return false;
}

}  // namespace qvs
