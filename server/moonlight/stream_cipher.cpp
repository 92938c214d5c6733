#include "server/moonlight/stream_cipher.h"

#include <openssl/evp.h>

#include <memory>

namespace qvs {

namespace {

typedef std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> CipherContext;

CipherContext make_context() { return CipherContext(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free); }

}  // namespace

bool gcm_seal(const uint8_t key[16], const uint8_t iv[12], const uint8_t* plain, size_t n, uint8_t* out,
              uint8_t tag[16]) {
    CipherContext ctx = make_context();
    int len = 0;
    return ctx && EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_gcm(), nullptr, key, iv) == 1 &&
           EVP_EncryptUpdate(ctx.get(), out, &len, plain, int(n)) == 1 &&
           EVP_EncryptFinal_ex(ctx.get(), out + len, &len) == 1 &&
           EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, 16, tag) == 1;
}

bool gcm_open(const uint8_t key[16], const uint8_t iv[12], const uint8_t* cipher, size_t n, const uint8_t tag[16],
              uint8_t* out) {
    CipherContext ctx = make_context();
    int len = 0;
    return ctx && EVP_DecryptInit_ex(ctx.get(), EVP_aes_128_gcm(), nullptr, key, iv) == 1 &&
           EVP_DecryptUpdate(ctx.get(), out, &len, cipher, int(n)) == 1 &&
           EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, 16, const_cast<uint8_t*>(tag)) == 1 &&
           EVP_DecryptFinal_ex(ctx.get(), out + len, &len) == 1;
}

}  // namespace qvs
