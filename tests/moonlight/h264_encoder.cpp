#include "tests/moonlight/h264_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <cstring>

#include "server/moonlight/video_decoder.h"

namespace qvs {

H264Encoder::H264Encoder(int width, int height, int fps, int kbps) {
    quiet_libav();
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    context_ = avcodec_alloc_context3(codec);
    context_->width = width;
    context_->height = height;
    context_->pix_fmt = AV_PIX_FMT_YUV420P;
    context_->time_base = AVRational{1, fps};
    context_->bit_rate = int64_t(kbps) * 1000;
    context_->gop_size = 1 << 30;
    context_->max_b_frames = 0;
    context_->flags |= AV_CODEC_FLAG_CLOSED_GOP | AV_CODEC_FLAG_LOW_DELAY;
    av_opt_set(context_->priv_data, "preset", "superfast", 0);
    av_opt_set(context_->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context_->priv_data, "forced-idr", "1", 0);
    avcodec_open2(context_, codec, nullptr);
    picture_ = av_frame_alloc();
    picture_->width = width;
    picture_->height = height;
    picture_->format = AV_PIX_FMT_YUV420P;
    av_frame_get_buffer(picture_, 0);
    packet_ = av_packet_alloc();
}

H264Encoder::~H264Encoder() {
    avcodec_free_context(&context_);
    av_frame_free(&picture_);
    av_packet_free(&packet_);
}

std::vector<uint8_t> H264Encoder::encode_solid(uint32_t rgb, bool idr) {
    av_frame_make_writable(picture_);
    int r = int(rgb >> 16), g = int(rgb >> 8 & 0xFF), b = int(rgb & 0xFF);
    // Rec. 601, limited range.
    const int value[3] = {(66 * r + 129 * g + 25 * b + 128) / 256 + 16, (-38 * r - 74 * g + 112 * b + 128) / 256 + 128,
                          (112 * r - 94 * g - 18 * b + 128) / 256 + 128};
    for (int plane = 0; plane < 3; plane++)
        for (int row = 0; row < (plane ? picture_->height / 2 : picture_->height); row++)
            std::memset(picture_->data[plane] + row * picture_->linesize[plane], value[plane],
                        size_t(plane ? picture_->width / 2 : picture_->width));
    return encode(idr);
}

std::vector<uint8_t> H264Encoder::encode(bool idr) {
    picture_->pts = pts_++;
    picture_->pict_type = idr ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    picture_->key_frame = idr;
    std::vector<uint8_t> unit;
    if (avcodec_send_frame(context_, picture_) < 0 || avcodec_receive_packet(context_, packet_) < 0) return unit;
    idr_ = packet_->flags & AV_PKT_FLAG_KEY;
    // Every NAL unit but SEI (type 6), which x264 fills with its version text.
    const uint8_t* p = packet_->data;
    int size = packet_->size;
    for (int i = 0; i < size;) {
        int end = i + 3;
        while (end + 3 <= size && !(p[end] == 0 && p[end + 1] == 0 && p[end + 2] == 1)) end++;
        if (end + 3 > size) end = size;
        int start = i + 3 < size && p[i + 2] == 1 ? i + 3 : i + 4;
        if (start < size && (p[start] & 0x1F) != 6) unit.insert(unit.end(), p + i, p + end);
        i = end;
    }
    av_packet_unref(packet_);
    return unit;
}

}  // namespace qvs
