// Pairing with a GameStream host by a PIN the user types on the host.
// Both sides prove they know the PIN and learn each other's certificate:
//
//   1 HTTP  getservercert  salt, our cert   -> (waits for the PIN) host cert
//   2 HTTP  clientchallenge Enc(cc)         -> Enc(H(cc|sig(host)|ss) | sc)
//   3 HTTP  serverchallengeresp Enc(H(sc|sig(ours)|cs))  -> ss | Sign(host, ss)
//           here we check the host's hash: a mismatch means a wrong PIN
//   4 HTTP  clientpairingsecret cs | Sign(ours, cs)      -> paired 1 / 0
//   5 HTTPS pairchallenge (with our cert, the host's pinned) -> paired 1
//
// Enc is AES-128-ECB with the first 16 bytes of H(salt | PIN); H is SHA-256
// for hosts of version 7 and later, SHA-1 before.
#ifndef QV_SERVER_MOONLIGHT_PAIRING_H
#define QV_SERVER_MOONLIGHT_PAIRING_H

#include <string>

#include "server/moonlight/host_api.h"

namespace qvs {

enum class PairOutcome { Paired, WrongPin, Refused, TimedOut, Cancelled, Unreachable };

// A random PIN of four digits.
std::string make_pin();

// Pairs with the host behind `api` (its serverinfo said `app_version`).
// Blocks until the PIN was typed on the host, `timeout_ms` passed or the
// api's cancel flag was set. On success the host's certificate is pinned.
PairOutcome pair_with_host(HostApi& api, const std::string& app_version, const std::string& pin, long timeout_ms);

}  // namespace qvs

#endif
