// What a typed web address means: the page to open, or why it is refused.
// Pure text rules, so that they are tested without a browser.
#ifndef QV_SERVER_WEB_ADDRESS_H
#define QV_SERVER_WEB_ADDRESS_H

#include <string>

namespace qvs {

// When the address first tried fails, a typed address may have a second
// reading: an https:// guess is tried again over http:// when its
// connection or TLS fails; a single word that names no host is searched for.
enum class Fallback { NONE, WHEN_CONNECTION_FAILS, WHEN_NO_SUCH_HOST };

struct WebTarget {
    bool allowed = false;
    std::string url;      // when allowed: what the browser opens
    std::string refusal;  // when not: a Swedish status text for the client
    std::string fallback_url;  // what is opened instead, under `fallback`
    Fallback fallback = Fallback::NONE;
};

// The rules, in order:
//  - surrounding blanks are ignored; an empty text is refused;
//  - a text with a scheme is followed only when it is http or https
//    (file:, javascript:, chrome:, data:, about: and every other are refused);
//  - an address on the local network gets http:// in front: an IP address,
//    localhost, or a single-label name, each with or without a port and
//    path ("10.0.0.1", "localhost:8080/x", "nas:5000", "router/"); a bare
//    word ("router") is searched for when no host has that name;
//  - another text that looks like a host name ("example.org/x") gets
//    https:// in front, and http:// when that connection fails;
//  - any other text goes to `search`, with each %s replaced by the text,
//    URL-encoded; without a search address it is refused.
WebTarget resolve_web_address(const std::string& typed, const std::string& search);

// Percent-encodes everything but letters, digits and -._~ (a space is %20).
std::string url_encode(const std::string& text);

}  // namespace qvs

#endif
