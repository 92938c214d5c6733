#include "server/moonlight/pairing.h"

#include <cstdio>

#include "server/log.h"
#include "server/moonlight/pairing_crypto.h"

namespace qvs {

namespace {

const long STEP_TIMEOUT_MS = 5000;

class Pairing {
public:
    Pairing(HostApi& api, const std::string& app_version, const std::string& pin)
        : api_(api), hash_(pair_hash_for(app_version)), salt_(random_bytes(16)),
          key_(pairing_key(hash_, salt_, pin)) {}

    PairOutcome run(long timeout_ms) {
        const ClientIdentity& me = api_.identity();
        // 1: the host answers once the PIN was typed there.
        HostReply r = step("phrase=getservercert&salt=" + to_hex(salt_) +
                               "&clientcert=" + to_hex(ByteString(me.cert_pem().begin(), me.cert_pem().end())),
                           timeout_ms);
        ByteString host_cert;
        if (!r.ok() || r.field["paired"] != "1" || !from_hex(r.field["plaincert"], &host_cert) || host_cert.empty())
            return failed(r, "no certificate");
        host_cert_.assign(host_cert.begin(), host_cert.end());
        ByteString host_sig = cert_signature(host_cert_);
        if (host_sig.empty()) return failed(r, "the host's certificate does not parse");

        // 2
        ByteString cc = random_bytes(16), reply;
        r = step("clientchallenge=" + to_hex(aes_ecb(key_, cc, true)), STEP_TIMEOUT_MS);
        size_t hash_len = hash_ == PairHash::Sha256 ? 32 : 20;
        if (!r.ok() || r.field["paired"] != "1" || !from_hex(r.field["challengeresponse"], &reply) ||
            (reply = aes_ecb(key_, reply, false)).size() < hash_len + 16)
            return failed(r, "no challenge response");
        ByteString server_response(reply.begin(), reply.begin() + long(hash_len));
        ByteString sc(reply.begin() + long(hash_len), reply.begin() + long(hash_len) + 16);

        // 3
        ByteString cs = random_bytes(16);
        ByteString hc = pair_digest(hash_, concat(concat(sc, cert_signature(me.cert_pem())), cs));
        hc.resize(32);
        ByteString secret;
        r = step("serverchallengeresp=" + to_hex(aes_ecb(key_, hc, true)), STEP_TIMEOUT_MS);
        if (!r.ok() || r.field["paired"] != "1" || !from_hex(r.field["pairingsecret"], &secret) ||
            secret.size() <= 16)
            return failed(r, "no pairing secret");
        ByteString ss(secret.begin(), secret.begin() + 16), ss_sig(secret.begin() + 16, secret.end());
        if (!rsa_verify(host_cert_, ss, ss_sig)) return failed(r, "the host's signature does not match its certificate");
        if (pair_digest(hash_, concat(concat(cc, host_sig), ss)) != server_response) {
            log_line("moonlight: %s: the host's proof does not match our PIN", api_.host().c_str());
            unpair();
            return PairOutcome::WrongPin;
        }

        // 4: the host checks our proof the same way.
        r = step("clientpairingsecret=" + to_hex(concat(cs, rsa_sign(me.key_pem(), cs))), STEP_TIMEOUT_MS);
        if (!r.ok() || r.field["paired"] != "1") return failed(r, "our proof was refused");

        // 5: the first request with our certificate, and the host's pinned.
        r = api_.get("/pair", "devicename=roth&updateState=1&phrase=pairchallenge", host_cert_, STEP_TIMEOUT_MS);
        if (!r.ok() || r.field["paired"] != "1") return failed(r, "the pairing challenge over HTTPS failed");
        if (!me.pin_host_cert(api_.host(), api_.http_port(), host_cert_)) return failed(r, "cannot store its certificate");
        return PairOutcome::Paired;
    }

private:
    HostReply step(const std::string& query, long timeout_ms) {
        return api_.get("/pair", "devicename=roth&updateState=1&" + query, std::string(), timeout_ms);
    }

    PairOutcome failed(const HostReply& r, const char* what) {
        if (r.reach == Reach::Cancelled) return PairOutcome::Cancelled;
        if (r.reach == Reach::TimedOut) return PairOutcome::TimedOut;
        if (r.reach == Reach::Unreachable || r.reach == Reach::TlsFailed) return PairOutcome::Unreachable;
        log_line("moonlight: %s: pairing failed: %s (status %ld %s)", api_.host().c_str(), what, r.status,
                 r.message.c_str());
        unpair();
        return PairOutcome::Refused;
    }

    // Older hosts keep a half-made pairing until told; current ones ignore this.
    void unpair() { api_.get("/unpair", "", std::string(), 2000); }

    HostApi& api_;
    PairHash hash_;
    ByteString salt_, key_;
    std::string host_cert_;
};

}  // namespace

std::string make_pin() {
    ByteString r = random_bytes(4);
    unsigned n = (unsigned(r[0]) << 24 | unsigned(r[1]) << 16 | unsigned(r[2]) << 8 | r[3]) % 10000;
    char pin[8];
    std::snprintf(pin, sizeof pin, "%04u", n);
    return pin;
}

PairOutcome pair_with_host(HostApi& api, const std::string& app_version, const std::string& pin, long timeout_ms) {
    return Pairing(api, app_version, pin).run(timeout_ms);
}

}  // namespace qvs
