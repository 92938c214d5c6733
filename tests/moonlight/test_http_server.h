// A small HTTP and HTTPS server for the test host, on 127.0.0.1: one GET
// per connection, answered and closed, a thread per connection. HTTPS asks
// for a client certificate and takes any; the handler decides.
#ifndef QV_TESTS_MOONLIGHT_TEST_HTTP_SERVER_H
#define QV_TESTS_MOONLIGHT_TEST_HTTP_SERVER_H

#include <functional>
#include <map>
#include <string>

namespace qvs {

struct TestRequest {
    bool https = false;
    std::string path;
    std::map<std::string, std::string> query;
    std::string peer_cert;  // HTTPS: the client's certificate as PEM
};

using TestHandler = std::function<std::string(const TestRequest&)>;  // the body; "" = no answer

// Listens on a free port (0 when it could not); `cert_pem`/`key_pem`: HTTPS.
int serve_http(const TestHandler& handler, const std::string& cert_pem = "", const std::string& key_pem = "");

}  // namespace qvs

#endif
