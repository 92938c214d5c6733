#include "server/moonlight/pairing_crypto.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <memory>

namespace qvs {

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, Deleter<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>>;

Bio text_bio(const std::string& pem) { return Bio(BIO_new_mem_buf(pem.data(), int(pem.size()))); }

Cert read_cert(const std::string& pem) {
    Bio bio = text_bio(pem);
    return Cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

std::string bio_text(BIO* bio) {
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    return n > 0 ? std::string(data, size_t(n)) : std::string();
}

}  // namespace

std::string to_hex(const ByteString& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

bool from_hex(const std::string& text, ByteString* out) {
    auto nibble = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (text.size() % 2) return false;
    out->clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out->push_back(uint8_t(hi << 4 | lo));
    }
    return true;
}

ByteString random_bytes(size_t n) {
    ByteString out(n);
    if (n && RAND_bytes(out.data(), int(n)) != 1) std::abort();  // no randomness: nothing safe to do
    return out;
}

ByteString concat(const ByteString& a, const ByteString& b) {
    ByteString out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

PairHash pair_hash_for(const std::string& app_version) {
    return std::atoi(app_version.c_str()) >= 7 ? PairHash::Sha256 : PairHash::Sha1;
}

ByteString pair_digest(PairHash hash, const ByteString& data) {
    ByteString out(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &n, hash == PairHash::Sha256 ? EVP_sha256() : EVP_sha1(),
               nullptr);
    out.resize(n);
    return out;
}

ByteString pairing_key(PairHash hash, const ByteString& salt, const std::string& pin) {
    ByteString key = pair_digest(hash, concat(salt, ByteString(pin.begin(), pin.end())));
    key.resize(16);
    return key;
}

ByteString aes_ecb(const ByteString& key, const ByteString& data, bool encrypt) {
    if (key.size() != 16 || data.size() % 16) return ByteString();
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    ByteString out(data.size() + 16);
    int n = 0, tail = 0;
    if (!ctx || !EVP_CipherInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, key.data(), nullptr, encrypt ? 1 : 0) ||
        !EVP_CIPHER_CTX_set_padding(ctx.get(), 0) ||
        !EVP_CipherUpdate(ctx.get(), out.data(), &n, data.data(), int(data.size())) ||
        !EVP_CipherFinal_ex(ctx.get(), out.data() + n, &tail))
        return ByteString();
    out.resize(size_t(n + tail));
    return out;
}

ByteString rsa_sign(const std::string& key_pem, const ByteString& data) {
    Bio bio = text_bio(key_pem);
    Key key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    MdCtx ctx(EVP_MD_CTX_new());
    size_t n = 0;
    if (!key || !ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &n, data.data(), data.size()) != 1)
        return ByteString();
    ByteString out(n);
    if (EVP_DigestSign(ctx.get(), out.data(), &n, data.data(), data.size()) != 1) return ByteString();
    out.resize(n);
    return out;
}

bool rsa_verify(const std::string& cert_pem, const ByteString& data, const ByteString& signature) {
    Cert cert = read_cert(cert_pem);
    Key key(cert ? X509_get_pubkey(cert.get()) : nullptr);
    MdCtx ctx(EVP_MD_CTX_new());
    return key && ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
           EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), data.data(), data.size()) == 1;
}

ByteString cert_signature(const std::string& cert_pem) {
    Cert cert = read_cert(cert_pem);
    if (!cert) return ByteString();
    const ASN1_BIT_STRING* sig = nullptr;
    X509_get0_signature(&sig, nullptr, cert.get());
    if (!sig) return ByteString();
    const uint8_t* p = ASN1_STRING_get0_data(sig);
    return ByteString(p, p + ASN1_STRING_length(sig));
}

bool make_self_signed(const std::string& common_name, std::string* cert_pem, std::string* key_pem) {
    Key key(EVP_RSA_gen(2048));
    Cert cert(X509_new());
    if (!key || !cert) return false;
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 20L * 365 * 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(common_name.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    if (!X509_sign(cert.get(), key.get(), EVP_sha256())) return false;
    Bio c(BIO_new(BIO_s_mem())), k(BIO_new(BIO_s_mem()));
    if (!c || !k || !PEM_write_bio_X509(c.get(), cert.get()) ||
        !PEM_write_bio_PrivateKey(k.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr))
        return false;
    *cert_pem = bio_text(c.get());
    *key_pem = bio_text(k.get());
    return true;
}

}  // namespace qvs
