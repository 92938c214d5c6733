// The pairing's building blocks against the protocol description's test
// vectors, and what a host's certificate and signatures must prove.
#include <gtest/gtest.h>

#include "server/moonlight/pairing_crypto.h"

namespace {

using qvs::ByteString;

ByteString hex(const std::string& text) {
    ByteString out;
    EXPECT_TRUE(qvs::from_hex(text, &out)) << text;
    return out;
}

TEST(ServerMoonlight, PairingKeyAndCipherMatchTheVectors) {
    ByteString salt = hex("000102030405060708090a0b0c0d0e0f");
    struct Case { const char* version; const char* key; };
    for (Case c : {Case{"7.1.431.-1", "bad0b4f7cae08eb7c1b5acc763a8ed25"}, Case{"3.12.0.0", "0cd2f00b23437ed6adc97cd8f7dbf3ed"}})
        EXPECT_EQ(qvs::to_hex(qvs::pairing_key(qvs::pair_hash_for(c.version), salt, "1234")), c.key) << c.version;
    ByteString key = hex("bad0b4f7cae08eb7c1b5acc763a8ed25"), plain = hex("00112233445566778899AABBCCDDEEFF");
    ByteString sealed = qvs::aes_ecb(key, plain, true);
    EXPECT_EQ(qvs::to_hex(sealed), "278b359fe2e2eabe7cb7f282929f1ee9");
    EXPECT_EQ(qvs::aes_ecb(key, sealed, false), plain);
    EXPECT_TRUE(qvs::aes_ecb(key, ByteString(15), true).empty());  // only whole blocks
    ByteString out;
    for (const char* bad : {"abc", "zz", "0g"}) EXPECT_FALSE(qvs::from_hex(bad, &out)) << bad;
}

TEST(ServerMoonlight, SignaturesProveTheKeyOfTheCertificate) {
    std::string cert, key, other_cert, other_key;
    ASSERT_TRUE(qvs::make_self_signed("A", &cert, &key) && qvs::make_self_signed("B", &other_cert, &other_key));
    EXPECT_EQ(qvs::cert_signature(cert).size(), 256u);
    EXPECT_TRUE(qvs::cert_signature("not a certificate").empty());
    ByteString secret = hex("0123456789abcdef0123456789abcdef"), sig = qvs::rsa_sign(key, secret);
    EXPECT_TRUE(qvs::rsa_verify(cert, secret, sig));
    EXPECT_FALSE(qvs::rsa_verify(other_cert, secret, sig));
    sig[10] ^= 1;
    EXPECT_FALSE(qvs::rsa_verify(cert, secret, sig));
}

}  // namespace
