#include "server/moonlight/host_apps.h"

#include <thread>

#include "server/log.h"

namespace qvs {

namespace {
// A menu shown this long after the last fetch uses the list as it is.
const int64_t FRESH_MS = 10000;
}  // namespace

HostApps& HostApps::instance() {
    // Never destroyed: background fetches may still run at exit.
    static HostApps* apps = new HostApps;
    return *apps;
}

HostApps::Entry& HostApps::entry(const std::string& host, int port) {
    return hosts_[host + ":" + std::to_string(port)];
}

std::vector<std::string> HostApps::known(const std::string& host, int port) {
    std::lock_guard<std::mutex> hold(lock_);
    Entry& e = entry(host, port);
    if (!e.fetching && now_ms() - e.fetched_ms >= FRESH_MS) {
        e.fetching = true;
        // Detached: a host that does not answer holds only this thread, for
        // at most the request timeouts.
        std::thread([this, host, port] {
            std::string error, message;
            std::vector<HostApp> apps;
            ServerInfo info;
            std::shared_ptr<ClientIdentity> identity = ClientIdentity::shared(&error);
            bool ok = false;
            if (identity) {
                HostApi api(host, port, identity);
                ok = api.server_info(&info) == Reach::Ok && info.paired &&
                     api.app_list(&apps, &message) == Reach::Ok;
            }
            std::lock_guard<std::mutex> done_hold(lock_);
            Entry& done = entry(host, port);
            done.fetching = false;
            done.fetched_ms = now_ms();
            if (ok) {
                done.titles.clear();
                for (const HostApp& a : apps) done.titles.push_back(a.title);
            }
        }).detach();
    }
    return e.titles;
}

void HostApps::store(const std::string& host, int port, const std::vector<HostApp>& apps) {
    std::lock_guard<std::mutex> hold(lock_);
    Entry& e = entry(host, port);
    e.titles.clear();
    for (const HostApp& a : apps) e.titles.push_back(a.title);
    e.fetched_ms = now_ms();
}

std::mutex& HostApps::pairing_lock(const std::string& host, int port) {
    std::lock_guard<std::mutex> hold(lock_);
    return entry(host, port).pairing;
}

}  // namespace qvs
