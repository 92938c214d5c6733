// The demo as a Source: the animation that shows the client's input, and
// the melody.
#ifndef QV_SERVER_DEMO_SOURCE_H
#define QV_SERVER_DEMO_SOURCE_H

#include <cstdint>
#include <memory>
#include <string>

#include "server/sources/source.h"
#include "server/encode/canvas.h"
#include "server/sources/demo.h"

namespace qvs {

class DemoSource : public Source {
public:
    // `noise`: random pixels instead (a worst case for encoder and link).
    DemoSource(const std::string& name, const StreamFormat& format, bool noise);

    bool grab(std::vector<uint16_t>& out, int width, int height, bool force) override;
    void input(uint8_t type, const uint8_t* payload, uint32_t length) override;
    size_t read_audio(int16_t* out, size_t max_frames) override;

private:
    std::string name_;
    DemoEntry entry_;
    StreamFormat format_;
    bool noise_;
    std::unique_ptr<DemoScene> scene_;
    std::unique_ptr<Melody> melody_;
    InputView input_;
    Canvas canvas_;
    int64_t started_ms_;
    uint64_t audio_frames_ = 0;
    uint32_t random_;
};

}  // namespace qvs

#endif
