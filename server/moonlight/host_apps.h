// What this server knows of each GameStream host, shared by every client:
// the apps it offers (for menu entries that name no app; fetched in the
// background, so that a slow or absent host never delays a menu) and one
// lock per host, so that two clients do not pair with it at the same time.
#ifndef QV_SERVER_MOONLIGHT_HOST_APPS_H
#define QV_SERVER_MOONLIGHT_HOST_APPS_H

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "server/moonlight/host_api.h"

namespace qvs {

class HostApps {
public:
    static HostApps& instance();

    // The app titles last fetched from host:port; empty when not known yet.
    // Starts a fetch in the background when the list is older than a few
    // seconds (or was never fetched) and the host is paired.
    std::vector<std::string> known(const std::string& host, int port);
    void store(const std::string& host, int port, const std::vector<HostApp>& apps);
    // Held while pairing with host:port.
    std::mutex& pairing_lock(const std::string& host, int port);

private:
    struct Entry {
        std::vector<std::string> titles;
        int64_t fetched_ms = 0;
        bool fetching = false;
        std::mutex pairing;
    };
    Entry& entry(const std::string& host, int port);  // with lock_ held
    std::mutex lock_;
    std::map<std::string, Entry> hosts_;
};

}  // namespace qvs

#endif
