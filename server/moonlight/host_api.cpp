#include "server/moonlight/host_api.h"

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <mutex>

#include <pugixml.hpp>

#include "server/log.h"
#include "server/moonlight/pairing_crypto.h"

namespace qvs {

namespace {

// Answers are a few kB; more is not a host.
const size_t MAX_REPLY = 1u << 20;

struct Transfer {
    std::string body;
    const std::atomic<bool>* cancel;
};

size_t on_data(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    if (t->body.size() + size * count > MAX_REPLY) return 0;
    t->body.append(data, size * count);
    return size * count;
}

int on_progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    return t->cancel && t->cancel->load() ? 1 : 0;
}

// curl's pin of a public key: "sha256//" and the base64 of the SHA-256 of
// the key's DER form.
std::string public_key_pin(const std::string& cert_pem) {
    BIO* bio = BIO_new_mem_buf(cert_pem.data(), int(cert_pem.size()));
    X509* cert = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    if (!cert) return std::string();
    unsigned char* der = nullptr;
    int n = i2d_PUBKEY(X509_get0_pubkey(cert), &der);
    X509_free(cert);
    if (n <= 0) return std::string();
    ByteString digest = pair_digest(PairHash::Sha256, ByteString(der, der + n));
    OPENSSL_free(der);
    unsigned char b64[64];
    int len = EVP_EncodeBlock(b64, digest.data(), int(digest.size()));
    return "sha256//" + std::string(reinterpret_cast<char*>(b64), size_t(len));
}

Reach reach_of(CURLcode code) {
    switch (code) {
    case CURLE_OK: return Reach::Ok;
    case CURLE_ABORTED_BY_CALLBACK: return Reach::Cancelled;
    case CURLE_OPERATION_TIMEDOUT: return Reach::TimedOut;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM: return Reach::TlsFailed;
    default: return Reach::Unreachable;
    }
}

void parse(const std::string& body, HostReply* reply) {
    pugi::xml_document doc;
    pugi::xml_node root;
    if (!doc.load_buffer(body.data(), body.size()) || !(root = doc.child("root")) ||
        !root.attribute("status_code")) {
        reply->reach = Reach::BadReply;
        return;
    }
    // Read unsigned and cast, as old hosts send 0xFFFFFFFF for -1.
    reply->status = long(int32_t(uint32_t(std::strtoul(root.attribute("status_code").value(), nullptr, 10))));
    reply->message = root.attribute("status_message").value();
    for (pugi::xml_node child : root.children()) {
        if (std::string(child.name()) == "App") {
            std::map<std::string, std::string> app;
            for (pugi::xml_node f : child.children()) app[f.name()] = f.text().get();
            reply->apps.push_back(app);
        } else {
            reply->field.emplace(child.name(), child.text().get());
        }
    }
}

std::string url_host(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

}  // namespace

HostApi::HostApi(const std::string& host, int http_port, std::shared_ptr<ClientIdentity> identity)
    : host_(host), http_port_(http_port), identity_(std::move(identity)) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

HostReply HostApi::get(const std::string& path, const std::string& query, const std::string& pinned,
                       long timeout_ms) {
    bool https = !pinned.empty();
    std::string url = std::string(https ? "https://" : "http://") + url_host(host_) + ":" +
                      std::to_string(https ? https_port_ : http_port_) + path + "?uniqueid=" +
                      identity_->unique_id() + "&uuid=" + to_hex(random_bytes(16)) + (query.empty() ? "" : "&") +
                      query;
    HostReply reply;
    CURL* curl = curl_easy_init();
    if (!curl) return reply;
    Transfer t{std::string(), cancel_};
    std::string pin = https ? public_key_pin(pinned) : std::string();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);  // hosts close after every answer
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, 5000L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeout_ms);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, on_data);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, on_progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
    if (https) {
        // No certificate authority vouches for a host: its key is pinned instead.
        curl_easy_setopt(curl, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(curl, CURLOPT_PINNEDPUBLICKEY, pin.c_str());
        curl_blob cert{const_cast<char*>(identity_->cert_pem().data()), identity_->cert_pem().size(),
                       CURL_BLOB_COPY};
        curl_blob key{const_cast<char*>(identity_->key_pem().data()), identity_->key_pem().size(), CURL_BLOB_COPY};
        curl_easy_setopt(curl, CURLOPT_SSLCERT_BLOB, &cert);
        curl_easy_setopt(curl, CURLOPT_SSLCERTTYPE, "PEM");
        curl_easy_setopt(curl, CURLOPT_SSLKEY_BLOB, &key);
        curl_easy_setopt(curl, CURLOPT_SSLKEYTYPE, "PEM");
    }
    CURLcode code = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    reply.reach = reach_of(code);
    if (https && pin.empty()) reply.reach = Reach::TlsFailed;
    if (reply.reach == Reach::Ok) parse(t.body, &reply);
    if (reply.reach != Reach::Ok && reply.reach != Reach::Cancelled)
        log_line("moonlight: %s%s: %s", url_host(host_).c_str(), path.c_str(), curl_easy_strerror(code));
    return reply;
}

Reach HostApi::server_info(ServerInfo* out) {
    std::string pinned = identity_->host_cert(host_, http_port_);
    HostReply reply;
    if (!pinned.empty()) {
        reply = get("/serverinfo", "", pinned, 5000);
        if (reply.reach == Reach::Cancelled) return reply.reach;
    }
    out->paired = reply.ok() && reply.field["PairStatus"] == "1";
    if (!out->paired) {
        // Unpaired, or the host forgot us: it still answers over HTTP.
        reply = get("/serverinfo", "", std::string(), 5000);
        if (reply.reach == Reach::Ok && !reply.ok()) reply.reach = Reach::BadReply;
        if (reply.reach != Reach::Ok) return reply.reach;
    }
    out->app_version = reply.field["appversion"];
    if (out->app_version.empty()) return Reach::BadReply;
    int port = std::atoi(reply.field["HttpsPort"].c_str());
    if (port > 0 && port < 65536) https_port_ = out->https_port = port;
    bool busy = reply.field["state"].size() >= 12 &&
                reply.field["state"].compare(reply.field["state"].size() - 12, 12, "_SERVER_BUSY") == 0;
    out->current_game = busy ? std::atoll(reply.field["currentgame"].c_str()) : 0;
    return Reach::Ok;
}

Reach HostApi::app_list(std::vector<HostApp>* out, std::string* message) {
    HostReply reply = get("/applist", "", identity_->host_cert(host_, http_port_), 5000);
    *message = reply.message;
    if (reply.reach == Reach::Ok && !reply.ok()) return Reach::BadReply;
    out->clear();
    for (auto& app : reply.apps) out->push_back({std::atoll(app["ID"].c_str()), app["AppTitle"]});
    return reply.reach;
}

HostReply HostApi::launch(const LaunchRequest& r, bool resume) {
    // Stereo in any case (surroundAudioInfo 0x00030002): we mix down for the client ourselves.
    std::string query = "appid=" + std::to_string(r.app_id) + "&mode=" + std::to_string(r.width) + "x" +
                        std::to_string(r.height) + "x" + std::to_string(r.fps) +
                        "&additionalStates=1&sops=0&rikey=" + to_hex(ByteString(r.rikey, r.rikey + 16)) +
                        "&rikeyid=" + std::to_string(r.rikeyid) +
                        "&localAudioPlayMode=0&surroundAudioInfo=196610&remoteControllersBitmap=1&gcmap=1";
    return get(resume ? "/resume" : "/launch", query, identity_->host_cert(host_, http_port_),
               resume ? 30000 : 120000);
}

}  // namespace qvs
