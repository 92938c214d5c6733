// The demo's picture and sound, produced in real time.
#include "server/sources/demo_source.h"

#include <chrono>
#include <ctime>

#include "server/log.h"

namespace qvs {

namespace {

std::string clock_text() {
    std::time_t now = std::time(nullptr);
    std::tm local;
    localtime_r(&now, &local);
    char buf[16];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &local);
    return buf;
}

}  // namespace

DemoSource::DemoSource(const std::string& name, const StreamFormat& format, bool noise)
    : name_(name), format_(format), noise_(noise), started_ms_(now_ms()), random_(uint32_t(now_ms()) | 1u) {
    entry_ = *find_demo_entry(1);
    entry_.name = name_.c_str();
    entry_.title = name_.c_str();
    if (format.rate > 0) melody_.reset(new Melody(format.rate, format.channels));
}

bool DemoSource::grab(std::vector<uint16_t>& out, int width, int height, bool) {
    if (!scene_ || canvas_.width != width || canvas_.height != height) {
        scene_.reset(new DemoScene(entry_, width, height));
        canvas_.resize(width, height);
    }
    if (noise_) {
        for (uint16_t& px : canvas_.pixels) {
            random_ ^= random_ << 13, random_ ^= random_ >> 17, random_ ^= random_ << 5;
            px = uint16_t(random_ & 0x7FFF);
        }
    } else {
        scene_->render(double(now_ms() - started_ms_) / 1000.0, clock_text(), input_, canvas_);
    }
    out = canvas_.pixels;
    return true;
}

void DemoSource::input(uint8_t type, const uint8_t* payload, uint32_t length) {
    input_.apply(type, payload, length);
}

size_t DemoSource::read_audio(int16_t* out, size_t max_frames) {
    if (!melody_) return 0;
    // Real time, 100 ms ahead so that the client's buffers never run dry.
    uint64_t due = uint64_t(now_ms() - started_ms_ + 100) * uint64_t(format_.rate) / 1000;
    if (due <= audio_frames_) return 0;
    size_t n = size_t(due - audio_frames_);
    if (n > max_frames) n = max_frames;
    melody_->generate(out, int(n));
    audio_frames_ += n;
    return n;
}

}  // namespace qvs
