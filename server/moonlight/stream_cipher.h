// AES-128-GCM as the GameStream streams use it: the rikey as key, a 12-byte
// IV, no additional data, a 16-byte tag kept apart from the ciphertext.
#ifndef QV_SERVER_MOONLIGHT_STREAM_CIPHER_H
#define QV_SERVER_MOONLIGHT_STREAM_CIPHER_H

#include <cstddef>
#include <cstdint>

namespace qvs {

// Encrypts n bytes of `plain` into `out` (n bytes) and writes the tag.
bool gcm_seal(const uint8_t key[16], const uint8_t iv[12], const uint8_t* plain, size_t n, uint8_t* out,
              uint8_t tag[16]);
// Decrypts n bytes of `cipher` into `out`; false when the tag does not match.
bool gcm_open(const uint8_t key[16], const uint8_t iv[12], const uint8_t* cipher, size_t n, const uint8_t tag[16],
              uint8_t* out);

}  // namespace qvs

#endif
