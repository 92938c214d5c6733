// What a typed web address means: the page to open, or why it is refused.
// Pure text rules, so that they are tested without a browser.
#ifndef QV_SERVER_WEB_ADDRESS_H
#define QV_SERVER_WEB_ADDRESS_H

#include <string>

namespace qvs {

struct WebTarget {
    bool allowed = false;
    std::string url;      // when allowed: what the browser opens
    std::string refusal;  // when not: a Swedish status text for the client
};

// The rules, in order:
//  - surrounding blanks are ignored; an empty text is refused;
//  - a text with a scheme is followed only when it is http or https
//    (file:, javascript:, chrome:, data:, about: and every other are refused);
//  - a text that looks like a host name ("example.org/x", "localhost:8080",
//    "10.0.0.1") gets https:// in front;
//  - any other text goes to `search`, with each %s replaced by the text,
//    URL-encoded; without a search address it is refused.
WebTarget resolve_web_address(const std::string& typed, const std::string& search);

// Percent-encodes everything but letters, digits and -._~ (a space is %20).
std::string url_encode(const std::string& text);

}  // namespace qvs

#endif
