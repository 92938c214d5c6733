// Typed web addresses: which are followed, which are searched for, which
// are refused.
#include "server/sessions/web_address.h"

#include <cctype>
#include <cstdlib>

namespace qvs {

namespace {

bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool all_digits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!is_digit(c)) return false;
    return true;
}

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(uint8_t(c)));
    return s;
}

// Tabs and line breaks are dropped and blanks and control characters cut
// off the ends, as the browser's own address parser does: "java\tscript:"
// must not slip past the scheme check as something else.
std::string clean(const std::string& typed) {
    std::string s;
    for (char c : typed)
        if (c != '\t' && c != '\n' && c != '\r') s += c;
    size_t begin = 0, end = s.size();
    while (begin < end && uint8_t(s[begin]) <= 0x20) begin++;
    while (end > begin && uint8_t(s[end - 1]) <= 0x20) end--;
    return s.substr(begin, end - begin);
}

// The scheme of "scheme:rest", or "" when the text has none. "host:8080"
// and "host:8080/x" are a host with a port, not a scheme.
std::string scheme_of(const std::string& s) {
    size_t colon = s.find(':');
    if (colon == std::string::npos || colon == 0 || !is_alpha(s[0])) return "";
    for (size_t i = 1; i < colon; i++)
        if (!is_alpha(s[i]) && !is_digit(s[i]) && s[i] != '+' && s[i] != '-' && s[i] != '.') return "";
    size_t port_end = s.find_first_of("/?#", colon + 1);
    std::string after = s.substr(colon + 1, port_end == std::string::npos ? std::string::npos : port_end - colon - 1);
    if (all_digits(after)) return "";
    return lower(s.substr(0, colon));
}

bool is_ipv4(const std::string& host) {
    int parts = 0;
    size_t at = 0;
    for (;;) {
        size_t dot = host.find('.', at);
        std::string part = host.substr(at, dot == std::string::npos ? std::string::npos : dot - at);
        if (!all_digits(part) || part.size() > 3 || std::atoi(part.c_str()) > 255) return false;
        parts++;
        if (dot == std::string::npos) break;
        at = dot + 1;
    }
    return parts == 4;
}

enum class HostKind { NONE, LOCAL, SINGLE_LABEL, NAME };

bool name_chars(const std::string& host) {
    char previous = '.';
    for (char c : host) {
        bool ok = is_alpha(c) || is_digit(c) || c == '-' || c == '.' || uint8_t(c) >= 0x80;
        if (!ok || (c == '.' && previous == '.')) return false;
        previous = c;
    }
    return !host.empty() && host[0] != '.';
}

// What kind of host a scheme-less text starts with: "example.org",
// "räksmörgås.se", "localhost", "10.0.0.1", "[::1]", "nas", each with an
// optional port, followed by nothing or a path, query or fragment.
HostKind host_kind(const std::string& s) {
    std::string host = s.substr(0, s.find_first_of("/?#"));
    if (!host.empty() && host[0] == '[') {
        size_t close = host.find(']');
        if (close == std::string::npos) return HostKind::NONE;
        std::string rest = host.substr(close + 1);
        return rest.empty() || (rest[0] == ':' && all_digits(rest.substr(1))) ? HostKind::LOCAL : HostKind::NONE;
    }
    size_t colon = host.find(':');
    if (colon != std::string::npos) {
        if (!all_digits(host.substr(colon + 1)) || host.size() - colon - 1 > 5) return HostKind::NONE;
        host.resize(colon);
    }
    if (lower(host) == "localhost" || is_ipv4(host)) return HostKind::LOCAL;
    if (!name_chars(host) || all_digits(host)) return HostKind::NONE;
    size_t last_dot = host.rfind('.');
    if (last_dot == std::string::npos) return HostKind::SINGLE_LABEL;
    if (last_dot + 1 == host.size()) return HostKind::NONE;
    char tld = host[last_dot + 1];
    return is_alpha(tld) || uint8_t(tld) >= 0x80 ? HostKind::NAME : HostKind::NONE;
}

WebTarget refuse(const std::string& why) {
    WebTarget t;
    t.refusal = why;
    return t;
}

WebTarget follow(const std::string& url) {
    std::string scheme = scheme_of(url);
    if (scheme != "http" && scheme != "https") {
        std::string shown = scheme.size() > 20 ? scheme.substr(0, 20) : scheme;
        return refuse("Adresser med \"" + shown + ":\" öppnas inte, bara http och https. Sidan står kvar.");
    }
    WebTarget t;
    t.allowed = true;
    t.url = url;
    return t;
}

}  // namespace

std::string url_encode(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        uint8_t b = uint8_t(c);
        if (is_alpha(c) || is_digit(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 15];
        }
    }
    return out;
}

namespace {

std::string search_url(const std::string& text, const std::string& search) {
    std::string url, encoded = url_encode(text);
    for (size_t i = 0; i < search.size(); i++) {
        if (search[i] == '%' && i + 1 < search.size() && search[i + 1] == 's') {
            url += encoded;
            i++;
        } else {
            url += search[i];
        }
    }
    return url;
}

}  // namespace

WebTarget resolve_web_address(const std::string& typed, const std::string& search) {
    std::string s = clean(typed);
    if (s.empty()) return refuse("Ingen adress angiven. Sidan står kvar.");
    if (!scheme_of(s).empty()) return follow(s);
    HostKind kind = host_kind(s);
    // A bare word may be a name on the local network or something to look
    // up; a port or a path makes it an address.
    bool bare_word = kind == HostKind::SINGLE_LABEL && s.find_first_of(":/?#") == std::string::npos;
    if (bare_word && !search.empty()) {
        WebTarget t = follow("http://" + s);
        t.fallback_url = follow(search_url(s, search)).url;
        t.fallback = t.fallback_url.empty() ? Fallback::NONE : Fallback::WHEN_NO_SUCH_HOST;
        return t;
    }
    if (kind == HostKind::LOCAL || kind == HostKind::SINGLE_LABEL) return follow("http://" + s);
    if (kind == HostKind::NAME) {
        WebTarget t = follow("https://" + s);
        t.fallback_url = "http://" + s;
        t.fallback = Fallback::WHEN_CONNECTION_FAILS;
        return t;
    }
    if (search.empty()) return refuse("Det är ingen adress, och ingen sökning är inställd. Sidan står kvar.");
    return follow(search_url(s, search));
}

}  // namespace qvs
