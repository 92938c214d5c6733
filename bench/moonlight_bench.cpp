// The game stream's cost in the server, two figures:
//
//  1. processor time per relayed 640 x 480 frame: decoding the host's
//     H.264, converting it to RGB555 and encoding our VideoFrame (at the
//     default lossy quality), for full motion and for a desktop; the H.264
//     is made beforehand by libx264 as a host makes it;
//  2. the delay from the arrival of the datagram that completes a frame to
//     our VideoFrame body being ready, with a game stream against the test
//     host on 127.0.0.1 (solid colours at 30 frames a second).
//
//   moonlight_bench [frames]      (default 300)
extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}
#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "bench/pictures.h"
#include "server/encode/encoder.h"
#include "server/log.h"
#include "server/moonlight/game_stream.h"
#include "server/moonlight/video_decoder.h"
#include "server/moonlight/video_receiver.h"
#include "tests/moonlight/fake_stream_host.h"
#include "tests/moonlight/h264_encoder.h"

namespace {

const int W = 640, H = 480;

double cpu_ms() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

void relay_cost(const char* content, int frames) {
    qvs::H264Encoder h264(W, H, 30, 6000);
    qvs::Canvas canvas;
    canvas.resize(W, H);
    std::mt19937 random(1);
    std::vector<std::vector<uint8_t>> units;
    SwsContext* to_yuv = sws_getContext(W, H, AV_PIX_FMT_RGB555, W, H, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr,
                                        nullptr, nullptr);
    for (int f = 0; f < frames; f++) {
        if (content[0] == 'm') qvb::draw_motion(canvas, f, &random);
        else qvb::draw_desktop(canvas, f);
        const uint8_t* planes[1] = {reinterpret_cast<const uint8_t*>(canvas.pixels.data())};
        const int strides[1] = {W * 2};
        AVFrame* yuv = h264.picture();
        av_frame_make_writable(yuv);
        sws_scale(to_yuv, planes, strides, 0, H, yuv->data, yuv->linesize);
        units.push_back(h264.encode(f == 0));
    }
    sws_freeContext(to_yuv);
    qvs::VideoDecoder decoder;
    qvs::PictureConverter converter;
    qvs::EncoderOptions options;
    options.quality = qvs::DEFAULT_LOSSY_QUALITY;
    qvs::FrameEncoder encoder(options);
    std::vector<uint16_t> picture;
    std::vector<uint8_t> body;
    std::vector<double> decode, convert, encode, total;
    size_t h264_bytes = 0, body_bytes = 0;
    for (int f = 0; f < frames; f++) {
        h264_bytes += units[size_t(f)].size();
        double t0 = cpu_ms();
        if (!decoder.decode(units[size_t(f)].data(), units[size_t(f)].size())) continue;
        double t1 = cpu_ms();
        converter.convert(decoder.picture(), picture, W, H);
        double t2 = cpu_ms();
        encoder.encode(uint32_t(f), picture.data(), W, H, body);
        double t3 = cpu_ms();
        body_bytes += body.size();
        decode.push_back(t1 - t0);
        convert.push_back(t2 - t1);
        encode.push_back(t3 - t2);
        total.push_back(t3 - t0);
    }
    std::printf("relay %-7s %dx%d, %zu frames (%.1f KB H.264 each): median CPU per frame %.2f ms "
                "(decode %.2f, convert %.2f, encode %.2f), 95th percentile %.2f ms; %.1f KB VideoFrame each\n",
                content, W, H, total.size(), double(h264_bytes) / frames / 1024, percentile(total, 0.5),
                percentile(decode, 0.5), percentile(convert, 0.5), percentile(encode, 0.5), percentile(total, 0.95),
                double(body_bytes) / double(std::max<size_t>(1, total.size())) / 1024);
}

void delay(int frames) {
    qvs::FakeStreamHost host(qvs::FakeStreamOptions{});
    qvs::GameStreamLaunch l;
    l.host = "127.0.0.1";
    l.session_url = "rtsp://127.0.0.1:" + std::to_string(host.rtsp_port());
    qvs::FakeLaunch f{{}, 0, l.width, l.height, l.fps};
    host.launch(f);
    std::string error;
    std::unique_ptr<qvs::GameStream> stream = qvs::GameStream::start(l, &error);
    if (!stream) {
        std::printf("delay: no stream: %s\n", error.c_str());
        std::exit(1);
    }
    qvs::FrameEncoder encoder;
    std::vector<uint16_t> picture;
    std::vector<uint8_t> body;
    std::vector<double> delays;
    for (int64_t end = qvs::now_ms() + 20000 + frames * 100; int(delays.size()) < frames && qvs::now_ms() < end;) {
        pollfd p{stream->wake_fd(), POLLIN, 0};
        if (poll(&p, 1, 100) != 1) continue;
        stream->drain_wake();
        if (!stream->grab(picture, W, H, false)) continue;
        encoder.encode(uint32_t(delays.size()), picture.data(), W, H, body);
        delays.push_back(double(qvs::steady_us() - stream->picture_arrival_us()) / 1000.0);
    }
    std::printf("delay   arrival of a frame's last datagram to its VideoFrame body, %zu frames: median %.2f ms, "
                "95th percentile %.2f ms\n",
                delays.size(), percentile(delays, 0.5), percentile(delays, 0.95));
}

}  // namespace

int main(int argc, char** argv) {
    int frames = argc > 1 ? std::max(2, std::atoi(argv[1])) : 300;
    relay_cost("motion", frames);
    relay_cost("desktop", frames);
    delay(std::min(frames, 150));
    return 0;
}
