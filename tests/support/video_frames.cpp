// VideoFrame bodies for tests and benchmarks.
#include "tests/support/video_frames.h"

#include <zlib.h>

#include <cstring>

std::vector<uint8_t> deflated(const std::vector<uint8_t>& bytes, int level) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::vector<uint8_t> out(size);
    compress2(out.data(), &size, bytes.data(), static_cast<uLong>(bytes.size()), level);
    out.resize(size);
    return out;
}

std::vector<uint8_t> video_frame_body(uint32_t frame_id, uint16_t width, uint16_t height,
                                      uint32_t raw_size, const std::vector<uint8_t>& compressed) {
    const uint8_t header[17] = {
        uint8_t(frame_id), uint8_t(frame_id >> 8), uint8_t(frame_id >> 16), uint8_t(frame_id >> 24),
        uint8_t(width),    uint8_t(width >> 8),    uint8_t(height),         uint8_t(height >> 8),
        0x5A,  // not read
        uint8_t(raw_size), uint8_t(raw_size >> 8), uint8_t(raw_size >> 16), uint8_t(raw_size >> 24),
        0xA5, 0xA5, 0xA5, 0xA5,  // not read
    };
    std::vector<uint8_t> body(sizeof header + compressed.size());
    std::memcpy(body.data(), header, sizeof header);
    if (!compressed.empty()) std::memcpy(body.data() + sizeof header, compressed.data(), compressed.size());
    return body;
}

std::vector<uint8_t> video_frame(uint32_t frame_id, uint16_t width, uint16_t height, const std::vector<uint8_t>& stream) {
    return video_frame_body(frame_id, width, height, static_cast<uint32_t>(stream.size()), deflated(stream));
}
