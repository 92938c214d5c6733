// Listening, and a thread for every client.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <list>
#include <memory>
#include <thread>

#include "server/net/admission.h"
#include "server/protocol.h"
#include "server/net/server.h"
#include "server/sessions/workspace.h"

namespace qvs {

int open_listener(const std::string& address, int port, int* bound_port, std::string* error) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(port));
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
        *error = "not an IPv4 address: " + address;
        return -1;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // A long queue: a burst of connections from one address must not crowd
    // out another's in the kernel before they are accepted.
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 256) != 0) {
        *error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    if (bound_port) *bound_port = ntohs(sa.sin_port);
    return fd;
}

namespace {

struct Client {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<Admission> admission;
};

// Joins the threads of connections that have ended.
void reap(std::list<Client>& clients) {
    for (auto it = clients.begin(); it != clients.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = clients.erase(it);
        } else {
            ++it;
        }
    }
}

void turn_away(int fd) {
    Bytes text = make_server_text(0, "Servern har fullt just nu. Försök igen om en stund.");
    ::send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::close(fd);
}

}  // namespace

void serve(int listen_fd, const ServerConfig& config, const std::atomic<bool>* stop, int max_connections) {
    std::list<Client> clients;
    int accepted = 0;
    while (!(stop && stop->load())) {
        reap(clients);
        Workspaces::instance().expire(config.keep_sessions_ms);
        if (max_connections > 0 && accepted >= max_connections) {
            if (clients.empty()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        pollfd p = {listen_fd, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) continue;
        sockaddr_in sa;
        socklen_t len = sizeof sa;
        int fd = ::accept4(listen_fd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED)
                log_line("accept failed: %s", std::strerror(errno));
            continue;
        }
        char host[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &sa.sin_addr, host, sizeof host);
        std::string peer = std::string(host) + ":" + std::to_string(ntohs(sa.sin_port));
        std::vector<std::shared_ptr<Admission>> open;
        for (const Client& c : clients) open.push_back(c.admission);
        bool full = false;
        std::shared_ptr<Admission> making_way = make_room(open, host, MAX_CONNECTIONS, &full);
        if (full) {
            log_line("%s turned away: %d clients already", peer.c_str(), MAX_CONNECTIONS);
            turn_away(fd);
            continue;
        }
        if (making_way) making_way->evict();
        accepted++;
        clients.emplace_back();
        Client& c = clients.back();
        c.admission = std::make_shared<Admission>(fd, host);
        std::shared_ptr<std::atomic<bool>> done = c.done;
        std::shared_ptr<Admission> admission = c.admission;
        c.thread = std::thread([admission, &config, accepted, peer, stop, done] {
            serve_connection(admission, config, accepted, peer, stop);
            done->store(true);
        });
    }
    for (Client& c : clients) c.thread.join();
    Workspaces::instance().clear();
}

}  // namespace qvs
