#include "server/net/admission.h"

#include <sys/socket.h>
#include <unistd.h>

#include <map>

namespace qvs {

void Admission::evict() {
    std::lock_guard<std::mutex> hold(lock_);
    evicted_ = true;
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void Admission::close() {
    std::lock_guard<std::mutex> hold(lock_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::shared_ptr<Admission> make_room(const std::vector<std::shared_ptr<Admission>>& open, const std::string& host,
                                     int capacity, bool* full) {
    *full = false;
    int count = 0;
    std::map<std::string, int> pending;  // per address
    for (const auto& a : open) {
        count += !a->evicted();
        if (a->pending()) pending[a->host()]++;
    }
    // The address with the most pending connections gives up its oldest:
    // the newcomer's own when it has its share already.
    std::string from = host;
    if (pending[host] < PENDING_PER_ADDRESS) {
        if (count < capacity) return nullptr;
        int most = 0;
        for (const auto& [address, n] : pending)
            if (n > most) most = n, from = address;
        if (most == 0) {
            *full = true;
            return nullptr;
        }
    }
    for (const auto& a : open)
        if (a->pending() && a->host() == from) return a;
    return nullptr;
}

}  // namespace qvs
