// VideoFrame bodies for tests and benchmarks.
#ifndef QV_TESTS_SUPPORT_VIDEO_FRAMES_H
#define QV_TESTS_SUPPORT_VIDEO_FRAMES_H

#include <cstdint>
#include <vector>

// The zlib stream (RFC 1950) of `bytes`.
std::vector<uint8_t> deflated(const std::vector<uint8_t>& bytes, int level = 6);

// The body: frame_id, width, height, 1 unread byte, raw_size, 4 unread bytes, `compressed`.
std::vector<uint8_t> video_frame_body(uint32_t frame_id, uint16_t width, uint16_t height,
                                      uint32_t raw_size, const std::vector<uint8_t>& compressed);

// A frame whose raw_size is the true size of `stream`.
std::vector<uint8_t> video_frame(uint32_t frame_id, uint16_t width, uint16_t height,
                                 const std::vector<uint8_t>& stream);

#endif
