// Who gets in when many knock. Until a connection has shown the right key
// (no Hello yet, its key check waiting, or turned away and lingering) it is
// pending: an address keeps only a few pending connections, and pending
// connections are the first to go when the server is full, so that no
// address can keep the others out.
#ifndef QV_SERVER_ADMISSION_H
#define QV_SERVER_ADMISSION_H

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qvs {

// Pending connections one address may hold.
const int PENDING_PER_ADDRESS = 4;

// What a connection's thread and the listener share: the socket, and
// whether the client is in.
class Admission {
public:
    Admission(int fd, const std::string& host) : fd_(fd), host_(host) {}
    ~Admission() { close(); }
    Admission(const Admission&) = delete;
    Admission& operator=(const Admission&) = delete;

    int fd() const { return fd_; }  // the connection's thread only, until close()
    const std::string& host() const { return host_; }
    // The right key was shown (or none is needed).
    void admit() { admitted_ = true; }
    bool pending() const { return !admitted_ && !evicted_; }
    // From the listener: ends the connection by shutting its socket, which
    // wakes its thread.
    void evict();
    bool evicted() const { return evicted_; }
    // The connection's thread, at its end.
    void close();

private:
    std::mutex lock_;  // fd_ against evict() while it closes
    int fd_;
    const std::string host_;
    std::atomic<bool> admitted_{false}, evicted_{false};
};

// For a new connection from `host`, given the `open` ones (oldest first,
// evicted ones may be among them): the connection that makes way for it,
// or null when there is room. `full` is set when there is no room and
// nothing pending to end: the newcomer is turned away.
std::shared_ptr<Admission> make_room(const std::vector<std::shared_ptr<Admission>>& open, const std::string& host,
                                     int capacity, bool* full);

}  // namespace qvs

#endif
