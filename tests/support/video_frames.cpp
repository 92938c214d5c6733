// VideoFrame bodies for tests and benchmarks.
#include "tests/support/video_frames.h"

#include <zlib.h>

#include "link/wire.h"

std::vector<uint8_t> deflated(const std::vector<uint8_t>& bytes, int level) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::vector<uint8_t> out(size);
    compress2(out.data(), &size, bytes.data(), static_cast<uLong>(bytes.size()), level);
    out.resize(size);
    return out;
}

std::vector<uint8_t> video_frame_body(uint32_t frame_id, uint16_t width, uint16_t height,
                                      uint32_t raw_size, const std::vector<uint8_t>& compressed) {
    std::vector<uint8_t> body(17, 0xA5);  // the unread bytes 8 and 13..16 are not zero
    put_u32le(&body[0], frame_id);
    put_u16le(&body[4], width);
    put_u16le(&body[6], height);
    body[8] = 0x5A;
    put_u32le(&body[9], raw_size);
    body.insert(body.end(), compressed.begin(), compressed.end());
    return body;
}

std::vector<uint8_t> video_frame(uint32_t frame_id, uint16_t width, uint16_t height, const std::vector<uint8_t>& stream) {
    return video_frame_body(frame_id, width, height, static_cast<uint32_t>(stream.size()), deflated(stream));
}
