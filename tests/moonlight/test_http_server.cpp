#include "tests/moonlight/test_http_server.h"

#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <algorithm>
#include <sstream>
#include <thread>

#include "tests/moonlight/fake_stream_host.h"

namespace qvs {

namespace {

int accept_any(int, X509_STORE_CTX*) { return 1; }

SSL_CTX* tls_context(const std::string& cert_pem, const std::string& key_pem) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    BIO* c = BIO_new_mem_buf(cert_pem.data(), int(cert_pem.size()));
    BIO* k = BIO_new_mem_buf(key_pem.data(), int(key_pem.size()));
    X509* cert = PEM_read_bio_X509(c, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(k, nullptr, nullptr, nullptr);
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_use_certificate(ctx, cert);
    SSL_CTX_use_PrivateKey(ctx, key);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, accept_any);
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(c);
    BIO_free(k);
    return ctx;
}

// Plain or TLS alike through a BIO chain; freeing it closes the socket.
void answer(int fd, SSL_CTX* tls, const TestHandler& handler) {
    TestRequest request;
    BIO* io = BIO_new_socket(fd, BIO_CLOSE);
    if (tls) {
        io = BIO_push(BIO_new_ssl(tls, 0), io);
        SSL* ssl = nullptr;
        BIO_get_ssl(io, &ssl);
        if (BIO_do_handshake(io) != 1) return (void)BIO_free_all(io);
        request.https = true;
        if (X509* peer = SSL_get1_peer_certificate(ssl)) {
            BIO* pem = BIO_new(BIO_s_mem());
            PEM_write_bio_X509(pem, peer);
            char* data = nullptr;
            long n = BIO_get_mem_data(pem, &data);
            request.peer_cert.assign(data, size_t(n));
            BIO_free(pem);
            X509_free(peer);
        }
    }
    std::string head;
    char buf[2048];
    for (int n; head.find("\r\n\r\n") == std::string::npos && head.size() < 65536 &&
                (n = BIO_read(io, buf, sizeof buf)) > 0;)
        head.append(buf, size_t(n));
    // "GET /path?a=1&b=2 HTTP/1.1"
    size_t start = head.find(' ') + 1, end = head.find(' ', start);
    std::string target = head.substr(start, end == std::string::npos ? 0 : end - start);
    size_t q = std::min(target.find('?'), target.size());
    request.path = target.substr(0, q);
    std::istringstream pairs(q < target.size() ? target.substr(q + 1) : std::string());
    for (std::string pair; std::getline(pairs, pair, '&');)
        if (size_t eq = pair.find('='); eq != std::string::npos) request.query[pair.substr(0, eq)] = pair.substr(eq + 1);
    std::string body = handler(request);
    std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    if (!body.empty()) BIO_write(io, reply.data(), int(reply.size()));
    if (tls) BIO_ssl_shutdown(io);
    BIO_free_all(io);
}

}  // namespace

int serve_http(const TestHandler& handler, const std::string& cert_pem, const std::string& key_pem) {
    int port = 0, fd = loopback_socket(SOCK_STREAM, &port);
    if (fd < 0 || ::listen(fd, 16) != 0) return 0;
    SSL_CTX* tls = cert_pem.empty() ? nullptr : tls_context(cert_pem, key_pem);
    std::thread([fd, tls, handler] {
        for (int c; (c = ::accept(fd, nullptr, nullptr)) >= 0;) std::thread(answer, c, tls, handler).detach();
    }).detach();
    return port;
}

}  // namespace qvs
