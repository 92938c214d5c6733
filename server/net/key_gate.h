// Wrong keys slow their sender down: after one, the next attempt from the
// same address is not looked at for a while.
#ifndef QV_SERVER_KEY_GATE_H
#define QV_SERVER_KEY_GATE_H

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace qvs {

class KeyGate {
public:
    static KeyGate& instance();

    // Checks `key` against `wanted` for a client at `host`, unless that
    // address must still wait: then returns false with `retry_ms` (> 0) set
    // to the wait. Else `retry_ms` is 0 and the result says whether the key
    // is right; a wrong one makes the address wait `wait_ms`.
    bool check(const std::string& host, const std::string& key, const std::string& wanted, int wait_ms,
               int64_t now_ms, int64_t* retry_ms);

private:
    std::mutex lock_;
    std::map<std::string, int64_t> next_try_;  // address -> first moment its next key is read
};

}  // namespace qvs

#endif
