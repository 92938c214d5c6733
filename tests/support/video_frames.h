// Builds VideoFrame bodies for tests and benchmarks: a block stream,
// deflated with zlib, behind the 17-byte frame header.
#ifndef QV_TESTS_SUPPORT_VIDEO_FRAMES_H
#define QV_TESTS_SUPPORT_VIDEO_FRAMES_H

#include <zlib.h>

#include <cstdint>
#include <vector>

inline std::vector<uint8_t> deflated(const std::vector<uint8_t>& bytes, int level = 6) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::vector<uint8_t> out(size);
    compress2(out.data(), &size, bytes.data(), static_cast<uLong>(bytes.size()), level);
    out.resize(size);
    return out;
}

// The body: frame_id, width, height, one unread byte, raw_size, four unread
// bytes, then `compressed` as it stands.
inline std::vector<uint8_t> video_frame_body(uint32_t frame_id, uint16_t width, uint16_t height,
                                             uint32_t raw_size,
                                             const std::vector<uint8_t>& compressed) {
    std::vector<uint8_t> body = {
        uint8_t(frame_id), uint8_t(frame_id >> 8), uint8_t(frame_id >> 16), uint8_t(frame_id >> 24),
        uint8_t(width),    uint8_t(width >> 8),    uint8_t(height),         uint8_t(height >> 8),
        0x5A,  // not read
        uint8_t(raw_size), uint8_t(raw_size >> 8), uint8_t(raw_size >> 16), uint8_t(raw_size >> 24),
        0xA5, 0xA5, 0xA5, 0xA5,  // not read
    };
    body.insert(body.end(), compressed.begin(), compressed.end());
    return body;
}

// A frame whose raw_size is the true size of `stream`.
inline std::vector<uint8_t> video_frame(uint32_t frame_id, uint16_t width, uint16_t height,
                                        const std::vector<uint8_t>& stream) {
    return video_frame_body(frame_id, width, height, static_cast<uint32_t>(stream.size()),
                            deflated(stream));
}

#endif
