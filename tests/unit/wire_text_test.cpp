// Text conversion between 8-bit client texts and UTF-8 wire texts: the
// documented examples, cuts at the limits, and hostile byte sequences.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/wire_text.h"

namespace {

std::vector<uint8_t> to_wire(const std::string& text, int limit) {
    std::vector<uint8_t> out(static_cast<size_t>(limit) + 8, 0xEE);
    int n = to_wire_text(text.c_str(), out.data(), limit);
    EXPECT_LE(n, limit - 1);
    // Nothing is written past the returned length (no terminator either).
    for (size_t i = static_cast<size_t>(n); i < out.size(); i++) EXPECT_EQ(out[i], 0xEE) << i;
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string from_wire(const std::vector<uint8_t>& bytes, int capacity = 256) {
    std::vector<char> out(static_cast<size_t>(capacity) + 8, '#');
    from_wire_text(bytes.data(), static_cast<uint32_t>(bytes.size()), out.data(), capacity);
    for (size_t i = static_cast<size_t>(capacity); i < out.size(); i++) EXPECT_EQ(out[i], '#') << i;
    return std::string(out.data());
}

}  // namespace

TEST(ToWireText, ConvertsLatin1AndEuro) {
    EXPECT_EQ(to_wire("\xC5sa", 32), (std::vector<uint8_t>{0xC3, 0x85, 0x73, 0x61}));
    EXPECT_EQ(to_wire("\x80", 32), (std::vector<uint8_t>{0xE2, 0x82, 0xAC}));
    EXPECT_EQ(to_wire("\x81\xFF", 32), (std::vector<uint8_t>{0xC2, 0x81, 0xC3, 0xBF}));
    EXPECT_EQ(to_wire("", 32), std::vector<uint8_t>{});
}

TEST(ToWireText, CutsAtCharacterBoundaryBelowLimit) {
    // 32 ASCII characters with the limit 32: the first 29 are written.
    std::vector<uint8_t> out = to_wire(std::string(32, 'a'), 32);
    EXPECT_EQ(out.size(), 29u);
    // A euro sign begun at 28 bytes still fits (31 = limit - 1) ...
    out = to_wire(std::string(28, 'a') + "\x80", 32);
    ASSERT_EQ(out.size(), 31u);
    EXPECT_EQ(out[28], 0xE2);
    EXPECT_EQ(out[30], 0xAC);
    // ... one begun at 29 bytes is not begun at all.
    out = to_wire(std::string(29, 'a') + "\x80", 32);
    EXPECT_EQ(out.size(), 29u);
    // Two-byte characters are never split.
    out = to_wire(std::string(40, '\xE5'), 32);
    EXPECT_EQ(out.size(), 30u);
    EXPECT_EQ(out[28], 0xC3);
    EXPECT_EQ(out[29], 0xA5);
}

TEST(ToWireText, TinyLimitsWriteNothing) {
    EXPECT_EQ(to_wire("abc", 3).size(), 0u);
    EXPECT_EQ(to_wire("abc", 1).size(), 0u);
    EXPECT_EQ(to_wire("abc", 4).size(), 1u);
}

TEST(FromWireText, ConvertsDocumentedExamples) {
    EXPECT_EQ(from_wire({0xE2, 0x82, 0xAC}), "\x80");
    EXPECT_EQ(from_wire({0xC3, 0xA5}), "\xE5");
    EXPECT_EQ(from_wire({0xE2, 0x9C, 0x93}), "?");
    EXPECT_EQ(from_wire({0xF0, 0x9F, 0x98, 0x80, 0x41}), "?A");
    EXPECT_EQ(from_wire({0x41, 0xC3}), "A?");
    EXPECT_EQ(from_wire({0x48, 0x65, 0x6A}), "Hej");
}

TEST(FromWireText, HostileSequences) {
    // Stray continuation bytes become one '?' together.
    EXPECT_EQ(from_wire({0x80, 0x81, 0xBF, 0x42}), "?B");
    // A three-byte sequence cut off by the end: '?', and its tail skipped.
    EXPECT_EQ(from_wire({0x41, 0xE2, 0x82}), "A?");
    // Two-byte lead: the second byte is taken as it comes.
    EXPECT_EQ(from_wire({0xC3, 0x41, 0x42}), std::string("\xC1") + "B");
    // Above U+00FF in two bytes.
    EXPECT_EQ(from_wire({0xC4, 0x80}), "?");
    // Five- and six-byte leads, 0xFE, 0xFF.
    EXPECT_EQ(from_wire({0xF8, 0x88, 0x80, 0x80, 0x80, 0xFE, 0xFF, 0x43}), "???C");
    // A zero byte ends the text.
    EXPECT_EQ(from_wire({0x41, 0x00, 0x42}), "A");
    // Overlong encodings of ASCII decode to the character (not validated).
    EXPECT_EQ(from_wire({0xC1, 0x81}), "A");
}

TEST(FromWireText, StopsAtCapacityAndTerminates) {
    std::vector<uint8_t> many(100, 'x');
    std::string out = from_wire(many, 32);
    EXPECT_EQ(out, std::string(31, 'x'));
    // Multi-byte characters count as one each.
    std::vector<uint8_t> euros;
    for (int i = 0; i < 40; i++) euros.insert(euros.end(), {0xE2, 0x82, 0xAC});
    out = from_wire(euros, 8);
    EXPECT_EQ(out, std::string(7, '\x80'));
    // Capacity 1: only the terminator.
    EXPECT_EQ(from_wire(many, 1), "");
}

TEST(FromWireText, ReturnsBytesConsumed) {
    uint8_t bytes[] = {0xE2, 0x82, 0xAC, 0x41, 0x42};
    char out[3];
    EXPECT_EQ(from_wire_text(bytes, 5, out, 3), 4u);
    EXPECT_STREQ(out, "\x80" "A");
    EXPECT_EQ(from_wire_text(bytes, 0, out, 3), 0u);
    EXPECT_STREQ(out, "");
}

TEST(WireText, RoundTripsEveryByte) {
    // Every 8-bit character survives the way out and back.
    std::string all;
    for (int b = 1; b < 256; b++) all.push_back(static_cast<char>(b));
    for (size_t start = 0; start < all.size(); start += 100) {
        std::string part = all.substr(start, 100);
        std::vector<uint8_t> wire = to_wire(part, 512);
        EXPECT_EQ(from_wire(wire, 512), part);
    }
}
