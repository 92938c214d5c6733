// The server's VideoFrame bodies through the client's own decoder.
#ifndef QV_TESTS_SUPPORT_SERVER_DECODE_H
#define QV_TESTS_SUPPORT_SERVER_DECODE_H

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "link/wire.h"
#include "media/codec.h"

struct ClientPicture {
    int width = 0, height = 0, pitch = 0;
    std::vector<uint16_t> pixels;  // rows `pitch` apart (catches row mix-ups), then a GUARD row no decode may touch
    static constexpr uint16_t GUARD = 0xDEAD;
    std::vector<uint8_t> stream;   // the last inflated block stream

    // 1 when the body inflated and every block decoded.
    int apply(const std::vector<uint8_t>& body) {
        if (body.size() < 17) return 0;
        int w = get_u16le(&body[4]), h = get_u16le(&body[6]);
        uint32_t raw = get_u32le(&body[9]);
        if (w != width || h != height || pixels.empty()) {
            width = w;
            height = h;
            pitch = w + 3;
            pixels.assign(size_t(pitch) * size_t(h), 0);
            pixels.resize(pixels.size() + size_t(pitch), GUARD);
        }
        stream.assign(raw, 0);
        uLongf n = raw;
        if (uncompress(stream.data(), &n, body.data() + 17, uLong(body.size() - 17)) != Z_OK) return 0;
        stream.resize(n);
        return decode_blocks(stream.data(), uint32_t(n), pixels.data(), width, height, pitch) == 0 &&
               std::count(pixels.end() - pitch, pixels.end(), GUARD) == pitch;
    }

    // The picture without the pitch padding.
    std::vector<uint16_t> visible() const {
        std::vector<uint16_t> out;
        for (int y = 0; y < height; y++)
            out.insert(out.end(), pixels.begin() + long(y) * pitch, pixels.begin() + long(y) * pitch + width);
        return out;
    }
};

#endif
