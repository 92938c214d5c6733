// The small cryptographic steps of PIN pairing with a GameStream host, on
// OpenSSL: hashes, AES-128-ECB over whole blocks, RSA-SHA256 signatures,
// a certificate's own signature bytes, and hex text. Shared by the client
// and the test host so that both read the protocol the same way.
#ifndef QV_SERVER_MOONLIGHT_PAIRING_CRYPTO_H
#define QV_SERVER_MOONLIGHT_PAIRING_CRYPTO_H

#include <cstdint>
#include <string>
#include <vector>

namespace qvs {

using ByteString = std::vector<uint8_t>;

// Lowercase hex, no separators.
std::string to_hex(const ByteString& bytes);
// Either case; false on an odd length or a character that is not hex.
bool from_hex(const std::string& text, ByteString* out);

ByteString random_bytes(size_t n);
ByteString concat(const ByteString& a, const ByteString& b);

// SHA-256 for hosts whose appversion major is 7 or more, SHA-1 below.
enum class PairHash { Sha1, Sha256 };
PairHash pair_hash_for(const std::string& app_version);
ByteString pair_digest(PairHash hash, const ByteString& data);

// The AES key of a pairing: the first 16 bytes of H(salt || pin).
ByteString pairing_key(PairHash hash, const ByteString& salt, const std::string& pin);

// AES-128-ECB without padding; `data` must be whole 16-byte blocks (else
// the result is empty).
ByteString aes_ecb(const ByteString& key, const ByteString& data, bool encrypt);

// RSA PKCS#1 v1.5 with SHA-256. Sign takes a PEM private key, verify the
// PEM certificate whose public key checks. Empty / false on any failure.
ByteString rsa_sign(const std::string& key_pem, const ByteString& data);
bool rsa_verify(const std::string& cert_pem, const ByteString& data, const ByteString& signature);

// The raw signature bytes of a PEM certificate; empty when it does not parse.
ByteString cert_signature(const std::string& cert_pem);

// A new self-signed RSA-2048 certificate (SHA-256, serial 0, 20 years)
// with `common_name`; false on failure.
bool make_self_signed(const std::string& common_name, std::string* cert_pem, std::string* key_pem);

}  // namespace qvs

#endif
