// Fuzz target: any text typed into the address bar (before the first zero
// byte) with any search address (after it). What is opened is always an
// http or https address, its second reading too; what is refused says so.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "server/sessions/web_address.h"

namespace {

bool on_the_web(const std::string& url) {
    std::string scheme = url.substr(0, url.find(':'));
    for (char& c : scheme) c = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return url.find(':') != std::string::npos && (scheme == "http" || scheme == "https");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz_default_artifacts(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    size_t zero = bytes.find('\0');
    std::string typed = bytes.substr(0, zero), search = zero == std::string::npos ? "" : bytes.substr(zero + 1);
    qvs::WebTarget t = qvs::resolve_web_address(typed, search);
    FUZZ_CHECK(t.allowed ? t.refusal.empty() && on_the_web(t.url) : t.url.empty() && !t.refusal.empty());
    FUZZ_CHECK(t.refusal.size() < 200 && (t.fallback == qvs::Fallback::NONE) == t.fallback_url.empty());
    FUZZ_CHECK(t.fallback_url.empty() || (t.allowed && on_the_web(t.fallback_url)));
    std::string encoded = qvs::url_encode(typed);
    FUZZ_CHECK(encoded.size() <= 3 * typed.size() && encoded.find_first_not_of(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~%") == std::string::npos);
    return 0;
}
