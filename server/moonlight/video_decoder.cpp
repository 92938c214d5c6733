#include "server/moonlight/video_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <mutex>

namespace qvs {

void quiet_libav() {
    // A damaged stream would fill the log with the decoder's complaints;
    // what matters (lost frames, IDR requests) the stream logs itself. Once,
    // before any thread uses the libraries.
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

VideoDecoder::VideoDecoder() {
    quiet_libav();
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    context_ = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!context_) return;
    // One thread and low delay: each unit comes out as a picture at once
    // rather than a few frames later.
    context_->thread_count = 1;
    context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
    packet_ = av_packet_alloc();
    picture_ = av_frame_alloc();
    spare_ = av_frame_alloc();
    if (!packet_ || !picture_ || !spare_ || avcodec_open2(context_, codec, nullptr) < 0) avcodec_free_context(&context_);
}

VideoDecoder::~VideoDecoder() {
    avcodec_free_context(&context_);
    av_packet_free(&packet_);
    av_frame_free(&picture_);
    av_frame_free(&spare_);
}

bool VideoDecoder::decode(const uint8_t* data, size_t size) {
    if (!context_ || size == 0) return false;
    // The parser reads a little past the end; the padding must be zeros.
    padded_.assign(data, data + size);
    padded_.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    packet_->data = padded_.data();
    packet_->size = int(size);
    if (avcodec_send_packet(context_, packet_) < 0) return false;
    // A failed receive empties the frame it was given: receive into a spare.
    bool got = false, clean = true;
    while (avcodec_receive_frame(context_, spare_) == 0) {
        got = true;
        clean = spare_->decode_error_flags == 0 && !(spare_->flags & AV_FRAME_FLAG_CORRUPT);
        av_frame_unref(picture_);
        av_frame_move_ref(picture_, spare_);
    }
    return got && clean;
}

PictureConverter::~PictureConverter() { sws_freeContext(sws_); }

void PictureConverter::convert(const AVFrame* p, std::vector<uint16_t>& out, int width, int height) {
    out.resize(size_t(width) * size_t(height));
    sws_ = sws_getCachedContext(sws_, p->width, p->height, AVPixelFormat(p->format), width, height,
                                AV_PIX_FMT_RGB555, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws_) {
        std::fill(out.begin(), out.end(), 0);
        return;
    }
    uint8_t* planes[1] = {reinterpret_cast<uint8_t*>(out.data())};
    int strides[1] = {width * 2};
    sws_scale(sws_, p->data, p->linesize, 0, p->height, planes, strides);
}

AVFrame* share_picture(const AVFrame* picture) { return av_frame_clone(picture); }
void free_picture(AVFrame** picture) { av_frame_free(picture); }

}  // namespace qvs
