// A GameStream test host: the HTTP(S) API with PIN pairing (the PIN as a
// person would type it: a line "pin 1234" on stdin), two apps, and
// /launch and /resume driving the stream half (FakeStreamHost).
//
//   fake_host [--input-log FILE] [--frame-log FILE] [--drop-every N] [--refuse-pairing]
//   stdout: "ports HTTP HTTPS" first, then one line per API event
//   stdin:  "pin NNNN", "vanish" (no more answers); end of input ends the host
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <set>

#include "server/moonlight/pairing_crypto.h"
#include "tests/moonlight/fake_stream_host.h"
#include "tests/moonlight/test_http_server.h"

namespace qvs {
namespace {

struct App {
    long id;
    const char* title;
};
const App APPS[] = {{1001, "Desktop"}, {2002, "Testspel"}};

std::string xml(int status, const std::string& body, const std::string& message = "") {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root status_code=\"" + std::to_string(status) + "\"" +
           (message.empty() ? "" : " status_message=\"" + message + "\"") + ">" + body + "</root>";
}
std::string el(const std::string& name, const std::string& text) { return "<" + name + ">" + text + "</" + name + ">"; }

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

class FakeHost {
public:
    FakeHost(const FakeStreamOptions& options, bool refuse) : stream_(options), refuse_(refuse) {
        make_self_signed("Sunshine Gamestream Host", &cert_, &key_);
    }
    const std::string& cert() const { return cert_; }
    const std::string& key() const { return key_; }

    void type_pin(const std::string& pin) {
        std::lock_guard<std::mutex> hold(lock_);
        typed_pin_ = pin;
        pin_typed_.notify_all();
    }
    void vanish() {
        std::lock_guard<std::mutex> hold(lock_);
        vanished_ = true;
        stream_.vanish();
    }

    std::string handle(const TestRequest& r) {
        std::unique_lock<std::mutex> hold(lock_);
        if (vanished_) return "";
        bool paired = r.https && paired_.count(to_hex(cert_signature(r.peer_cert)));
        if (r.https && !paired) return xml(401, "", "The client is not authorized. Certificate verification failed.");
        if (r.path == "/serverinfo")
            return xml(200, el("hostname", "testhost") + el("appversion", "7.1.431.-1") +
                                el("uniqueid", "0123-test") + el("HttpsPort", std::to_string(https_port_)) +
                                el("ServerCodecModeSupport", "1") + el("PairStatus", paired ? "1" : "0") +
                                el("currentgame", std::to_string(running_)) +
                                el("state", running_ ? "SUNSHINE_SERVER_BUSY" : "SUNSHINE_SERVER_FREE"));
        if (r.path == "/pair") return pair(r, hold, paired);
        if (!paired) return xml(404, "", "Not found");
        if (r.path == "/applist") {
            std::string apps;
            for (const App& a : APPS)
                apps += el("App", el("IsHdrSupported", "0") + el("AppTitle", a.title) + el("ID", std::to_string(a.id)));
            return xml(200, apps);
        }
        if (r.path == "/launch" || r.path == "/resume") return launch(r);
        return xml(404, "", "Not found");
    }

    void set_https_port(int port) {
        std::lock_guard<std::mutex> hold(lock_);
        https_port_ = port;
    }

private:
    std::string launch(const TestRequest& r) {
        bool resume = r.path == "/resume";
        std::map<std::string, std::string> q = r.query;
        ByteString rikey;
        FakeLaunch l{};
        if (!from_hex(q["rikey"], &rikey) || rikey.size() != 16 || q["rikeyid"].empty() ||
            std::sscanf(q["mode"].c_str(), "%dx%dx%d", &l.width, &l.height, &l.fps) != 3)
            return xml(400, "", "Missing a required launch parameter");
        long app = std::atol(q["appid"].c_str());
        if (resume ? running_ == 0 : running_ != 0)
            return resume ? xml(503, "", "No running app to resume") : xml(400, "", "An app is already running on this host");
        if (!resume) running_ = app;
        std::memcpy(l.rikey, rikey.data(), 16);
        l.rikeyid = int32_t(std::atol(q["rikeyid"].c_str()));
        stream_.launch(l);
        say((resume ? "resume " : "launch ") + std::to_string(running_) + " " + q["mode"]);
        return xml(200, el("sessionUrl0", "rtsp://127.0.0.1:" + std::to_string(stream_.rtsp_port())) +
                            (resume ? el("resume", "1") : el("gamesession", "1")));
    }

    // The host's side of PIN pairing, one pending pairing at a time.
    std::string pair(const TestRequest& r, std::unique_lock<std::mutex>& hold, bool paired) {
        std::map<std::string, std::string> q = r.query;
        ByteString in;
        if (q["phrase"] == "getservercert") {
            if (refuse_) return say("pair refused"), xml(200, el("paired", "0"));
            ByteString client_cert;
            if (!from_hex(q["salt"], &salt_) || salt_.size() < 16 || !from_hex(q["clientcert"], &client_cert))
                return xml(400, "", "Missing salt");
            client_cert_.assign(client_cert.begin(), client_cert.end());
            say("pair waiting");
            typed_pin_.clear();
            if (!pin_typed_.wait_for(hold, std::chrono::seconds(150), [&] { return !typed_pin_.empty(); }))
                return xml(200, el("paired", "0"));
            salt_.resize(16);
            key_aes_ = pairing_key(PairHash::Sha256, salt_, typed_pin_);
            return xml(200, el("paired", "1") + el("plaincert", to_hex(ByteString(cert_.begin(), cert_.end()))));
        }
        if (q.count("clientchallenge") && from_hex(q["clientchallenge"], &in)) {
            ByteString cc = aes_ecb(key_aes_, in, false);
            ss_ = random_bytes(16);
            sc_ = random_bytes(16);
            ByteString hs = pair_digest(PairHash::Sha256, concat(concat(cc, cert_signature(cert_)), ss_));
            return xml(200, el("paired", "1") + el("challengeresponse", to_hex(aes_ecb(key_aes_, concat(hs, sc_), true))));
        }
        if (q.count("serverchallengeresp") && from_hex(q["serverchallengeresp"], &in)) {
            client_hash_ = aes_ecb(key_aes_, in, false);
            return xml(200, el("paired", "1") + el("pairingsecret", to_hex(concat(ss_, rsa_sign(key_, ss_)))));
        }
        if (q.count("clientpairingsecret") && from_hex(q["clientpairingsecret"], &in) && in.size() > 16) {
            ByteString cs(in.begin(), in.begin() + 16), sig(in.begin() + 16, in.end());
            ByteString expect = pair_digest(PairHash::Sha256, concat(concat(sc_, cert_signature(client_cert_)), cs));
            bool ok = client_hash_.size() >= 32 && ByteString(client_hash_.begin(), client_hash_.begin() + 32) == expect &&
                      rsa_verify(client_cert_, cs, sig);
            if (ok) paired_.insert(to_hex(cert_signature(client_cert_)));
            say(ok ? "paired" : "pair failed");
            return xml(200, el("paired", ok ? "1" : "0"));
        }
        if (q["phrase"] == "pairchallenge") return xml(200, el("paired", paired ? "1" : "0"));
        return xml(400, "", "Out of order call");
    }

    FakeStreamHost stream_;
    bool refuse_;
    std::string cert_, key_;
    std::mutex lock_;
    std::condition_variable pin_typed_;
    std::string typed_pin_;
    ByteString salt_, key_aes_, ss_, sc_, client_hash_;
    std::string client_cert_;
    std::set<std::string> paired_;  // signatures of paired client certificates
    long running_ = 0;
    bool vanished_ = false;
    int https_port_ = 0;
};

}  // namespace
}  // namespace qvs

int main(int argc, char** argv) {
    qvs::FakeStreamOptions options;
    bool refuse = false;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--input-log" && i + 1 < argc) options.input_log = argv[++i];
        else if (a == "--frame-log" && i + 1 < argc) options.frame_log = argv[++i];
        else if (a == "--drop-every" && i + 1 < argc) options.drop_every = std::atoi(argv[++i]);
        else if (a == "--refuse-pairing") refuse = true;
        else return std::fprintf(stderr, "fake_host: unknown option %s\n", argv[i]), 2;
    }
    qvs::FakeHost host(options, refuse);
    auto handler = [&host](const qvs::TestRequest& r) { return host.handle(r); };
    int https = qvs::serve_http(handler, host.cert(), host.key());
    host.set_https_port(https);
    int http = qvs::serve_http(handler);
    if (!http || !https) return std::fprintf(stderr, "fake_host: cannot listen\n"), 1;
    qvs::say("ports " + std::to_string(http) + " " + std::to_string(https));
    for (std::string line; std::getline(std::cin, line);) {
        if (line.rfind("pin ", 0) == 0) host.type_pin(line.substr(4));
        else if (line == "vanish") host.vanish();
    }
    std::_Exit(0);  // connection threads may still wait: end them all at once
}
