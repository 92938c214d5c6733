// Building and reading wire messages on the server side.
#include "server/protocol.h"

#include <cstring>

namespace qvs {

void append_u16(Bytes& out, uint16_t value) {
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void append_u32(Bytes& out, uint32_t value) {
    for (int i = 0; i < 4; i++) out.push_back(uint8_t(value >> (8 * i)));
}

uint16_t read_u16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

uint32_t read_u32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

Bytes frame_message(uint8_t type, const uint8_t* payload, size_t length) {
    Bytes out;
    out.reserve(WIRE_HEADER_SIZE + length);
    append_u32(out, uint32_t(length));
    out.push_back(type);
    if (length) out.insert(out.end(), payload, payload + length);
    return out;
}

std::string utf8_cut(const std::string& text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t end = limit;
    // Step back over continuation bytes to the start of the cut character.
    while (end > 0 && (uint8_t(text[end]) & 0xC0) == 0x80) end--;
    return text.substr(0, end);
}

Bytes make_stream_setup(uint16_t width, uint16_t height, int32_t sample_rate,
                        uint8_t channels, const std::string& text) {
    // 0 version (u16, not read by the client), 2 width, 4 height, 6 bits per
    // pixel (informative), 7 rate, 11 channels, 12 bits per sample
    // (informative), 13 32 bytes of text.
    Bytes p;
    append_u16(p, 1);
    append_u16(p, width);
    append_u16(p, height);
    p.push_back(16);
    append_u32(p, uint32_t(sample_rate));
    p.push_back(channels);
    p.push_back(16);
    std::string cut = utf8_cut(text, 32);
    p.insert(p.end(), cut.begin(), cut.end());
    p.resize(STREAM_SETUP_MIN, 0);
    return frame_message(MSG_STREAM_SETUP, p);
}

Bytes make_app_list(const std::vector<MenuItem>& items) {
    Bytes p;
    size_t count = items.size() > 0xFFFF ? 0xFFFF : items.size();
    append_u16(p, uint16_t(count));
    for (size_t i = 0; i < count; i++) {
        std::string name = utf8_cut(items[i].name, 255);
        append_u16(p, items[i].id);
        p.push_back(items[i].kind);
        p.push_back(uint8_t(name.size()));
        p.insert(p.end(), name.begin(), name.end());
    }
    return frame_message(MSG_APP_LIST, p);
}

Bytes make_stream_state(uint8_t mode, uint8_t pointer_mode, uint8_t kind) {
    const uint8_t p[3] = {mode, pointer_mode, kind};
    return frame_message(MSG_STREAM_STATE, p, 3);
}

Bytes make_server_text(uint8_t slot, const std::string& text) {
    // The client cuts texts to its own field sizes; a generous cap keeps a
    // runaway text from becoming a huge message.
    std::string cut = utf8_cut(text, 1024);
    Bytes p;
    p.push_back(slot);
    p.insert(p.end(), cut.begin(), cut.end());
    return frame_message(MSG_SERVER_TEXT, p);
}

Bytes make_pong(const uint8_t value[4]) { return frame_message(MSG_PONG, value, 4); }

Bytes make_audio(const int16_t* samples, size_t count) {
    Bytes p;
    p.reserve(count * 2);
    for (size_t i = 0; i < count; i++) append_u16(p, uint16_t(samples[i]));
    return frame_message(MSG_AUDIO_DATA, p);
}

static std::string zero_padded_text(const uint8_t* field, size_t size) {
    size_t n = 0;
    while (n < size && field[n] != 0) n++;
    return std::string(reinterpret_cast<const char*>(field), n);
}

int parse_hello(const uint8_t* payload, size_t length, Hello* out) {
    if (length < HELLO_SIZE || std::memcmp(payload, "QV98", 4) != 0) return 0;
    out->width = read_u16(payload + 6);
    out->height = read_u16(payload + 8);
    out->fps = payload[10];
    out->sample_rate = read_u32(payload + 11);
    out->channels = payload[15];
    out->name = zero_padded_text(payload + 16, 32);
    out->key = zero_padded_text(payload + 48, 32);
    return 1;
}

std::u32string utf8_decode(const std::string& text) {
    std::u32string out;
    size_t i = 0, n = text.size();
    while (i < n) {
        uint8_t b = uint8_t(text[i]);
        int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        if (extra == 0) {
            out.push_back(b);
            i++;
            continue;
        }
        bool ok = extra > 0 && i + size_t(extra) < n;
        char32_t code = ok ? char32_t(b & (0x3F >> extra)) : 0;
        for (int k = 1; ok && k <= extra; k++) {
            uint8_t c = uint8_t(text[i + k]);
            if ((c & 0xC0) != 0x80) ok = false;
            code = (code << 6) | (c & 0x3F);
        }
        if (!ok) {
            out.push_back(0xFFFD);
            i++;
            continue;
        }
        out.push_back(code);
        i += size_t(extra) + 1;
    }
    return out;
}

std::string utf8_encode(char32_t code) {
    std::string s;
    if (code < 0x80) {
        s += char(code);
    } else if (code < 0x800) {
        s += char(0xC0 | (code >> 6));
        s += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        s += char(0xE0 | (code >> 12));
        s += char(0x80 | ((code >> 6) & 0x3F));
        s += char(0x80 | (code & 0x3F));
    } else {
        s += char(0xF0 | (code >> 18));
        s += char(0x80 | ((code >> 12) & 0x3F));
        s += char(0x80 | ((code >> 6) & 0x3F));
        s += char(0x80 | (code & 0x3F));
    }
    return s;
}

}  // namespace qvs
