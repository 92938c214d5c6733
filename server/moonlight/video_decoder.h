// H.264 access units to pictures (libavcodec), and pictures to RGB555 at
// any size (libswscale).
#ifndef QV_SERVER_MOONLIGHT_VIDEO_DECODER_H
#define QV_SERVER_MOONLIGHT_VIDEO_DECODER_H

#include <cstddef>
#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace qvs {

// Turns the libav libraries' own log off; every user calls it first.
void quiet_libav();

class VideoDecoder {
public:
    VideoDecoder();
    ~VideoDecoder();
    bool ok() const { return context_ != nullptr; }
    // Decodes one whole access unit. True when it gave a picture that
    // decoded without errors: picture() then holds it. False also when the
    // unit was damaged, which needs an IDR frame to mend.
    bool decode(const uint8_t* data, size_t size);
    AVFrame* picture() { return picture_; }

    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

private:
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* picture_ = nullptr;
    AVFrame* spare_ = nullptr;
    std::vector<uint8_t> padded_;
};

class PictureConverter {
public:
    ~PictureConverter();
    // `picture` as width x height RGB555 into `out` (resized).
    void convert(const AVFrame* picture, std::vector<uint16_t>& out, int width, int height);

private:
    SwsContext* sws_ = nullptr;
};

// A new frame reference to `picture`'s buffers, or a deep copy's; null on
// failure. Freed with free_picture.
AVFrame* share_picture(const AVFrame* picture);
void free_picture(AVFrame** picture);

}  // namespace qvs

#endif
