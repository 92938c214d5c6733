// The HTTP(S) side of a GameStream host: plain GET requests whose answers
// are XML with <root status_code="...">, the status code counting rather
// than the HTTP status line. HTTPS presents our client certificate and
// accepts only the host certificate pinned at pairing.
#ifndef QV_SERVER_MOONLIGHT_HOST_API_H
#define QV_SERVER_MOONLIGHT_HOST_API_H

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "server/moonlight/identity.h"

namespace qvs {

enum class Reach {
    Ok,           // an XML answer came (its status may still be an error)
    Unreachable,  // no connection, or the connection broke
    TlsFailed,    // the host's certificate is not the pinned one, or it refused ours
    TimedOut,
    Cancelled,
    BadReply,     // not the XML of a host
};

struct HostReply {
    Reach reach = Reach::Unreachable;
    long status = 0;                           // <root status_code>
    std::string message;                       // <root status_message>
    std::map<std::string, std::string> field;  // text of <root>'s children (the first of each name)
    std::vector<std::map<std::string, std::string>> apps;  // <App> children, each by child name
    bool ok() const { return reach == Reach::Ok && status == 200; }
};

struct ServerInfo {
    std::string app_version;  // "7.1.431.-1"
    int https_port = 47984;
    bool paired = false;      // PairStatus over HTTPS
    int64_t current_game = 0; // the app that runs, when the host is busy; else 0
};

struct HostApp {
    int64_t id = 0;
    std::string title;
};

struct LaunchRequest {
    int64_t app_id = 0;
    int width = 640, height = 480, fps = 30;
    uint8_t rikey[16] = {};
    int32_t rikeyid = 0;
};

class HostApi {
public:
    HostApi(const std::string& host, int http_port, std::shared_ptr<ClientIdentity> identity);

    // A flag that, once set, aborts the request in flight (Reach::Cancelled).
    void set_cancel(const std::atomic<bool>* cancel) { cancel_ = cancel; }
    const std::string& host() const { return host_; }
    int http_port() const { return http_port_; }
    int https_port() const { return https_port_; }
    void set_https_port(int port) { https_port_ = port; }
    const ClientIdentity& identity() const { return *identity_; }

    // One request. `query` follows uniqueid and uuid; `pinned` is the host
    // certificate for HTTPS (empty: plain HTTP).
    HostReply get(const std::string& path, const std::string& query, const std::string& pinned, long timeout_ms);

    // Over HTTPS when a certificate is pinned and the host accepts ours,
    // else over HTTP (paired then false).
    Reach server_info(ServerInfo* out);
    Reach app_list(std::vector<HostApp>* out, std::string* message);
    // /launch, or /resume when `resume`; the RTSP address (sessionUrl0) on
    // success. (/cancel, which quits the host's app, is not offered: F9
    // leaves the game running, as a person at the host would expect.)
    HostReply launch(const LaunchRequest& request, bool resume);

private:
    std::string host_;
    int http_port_, https_port_ = 47984;
    std::shared_ptr<ClientIdentity> identity_;
    const std::atomic<bool>* cancel_ = nullptr;
};

}  // namespace qvs

#endif
