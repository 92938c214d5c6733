// What a typed web address opens, searches for or refuses.
#include <gtest/gtest.h>

#include "server/web_address.h"

namespace {

const char* const SEARCH = "https://sok.example/?q=%s&from=%s";

struct Case {
    const char* typed;
    const char* url;  // nullptr: refused
};

const Case CASES[] = {
    {"http://127.0.0.1:8000/a.html", "http://127.0.0.1:8000/a.html"},
    {"  HTTPS://Example.org/x?y#z \n", "HTTPS://Example.org/x?y#z"},
    {"example.org", "https://example.org"},
    {"www.räksmörgås.se/sida", "https://www.räksmörgås.se/sida"},
    {"localhost:8080/x", "https://localhost:8080/x"},
    {"10.0.0.1", "https://10.0.0.1"},
    {"[::1]:631/", "https://[::1]:631/"},
    {"väder i Göteborg", "https://sok.example/?q=v%C3%A4der%20i%20G%C3%B6teborg&from=v%C3%A4der%20i%20G%C3%B6teborg"},
    {"3.14", "https://sok.example/?q=3.14&from=3.14"},
    {"a&b=c", "https://sok.example/?q=a%26b%3Dc&from=a%26b%3Dc"},
    {"javascript:alert(1)", nullptr},
    {" JavaScript:alert(1)", nullptr},
    {"java\tscript:alert(1)", nullptr},
    {"file:///etc/passwd", nullptr},
    {"chrome://settings", nullptr},
    {"data:text/html,<b>x</b>", nullptr},
    {"about:blank", nullptr},
    {"view-source:http://x.org", nullptr},
    {"", nullptr},
    {" \t ", nullptr},
};

TEST(WebAddress, TypedTextOpensSearchesOrIsRefused) {
    for (const Case& c : CASES) {
        qvs::WebTarget t = qvs::resolve_web_address(c.typed, SEARCH);
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(t.allowed, c.url != nullptr);
        if (c.url) EXPECT_EQ(t.url, c.url);
        else EXPECT_FALSE(t.refusal.empty());
    }
}

TEST(WebAddress, WithoutSearchPlainTextIsRefusedAndAddressesStillOpen) {
    EXPECT_FALSE(qvs::resolve_web_address("hej hopp", "").allowed);
    EXPECT_EQ(qvs::resolve_web_address("example.org", "").url, "https://example.org");
    EXPECT_FALSE(qvs::resolve_web_address("x y", "file:///tmp/%s").allowed);
}

}  // namespace
