// An X display as a stream's source.
#include "server/sources/x_source.h"

#include "link/wire.h"

namespace qvs {

std::unique_ptr<XSource> XSource::open(const std::string& display, const std::string& window_title,
                                       std::function<std::string()> ended, std::shared_ptr<void> keep,
                                       std::string* error) {
    std::unique_ptr<XSource> s(new XSource());
    s->capture_ = XCapture::open(display, window_title, error);
    if (!s->capture_) return nullptr;
    XCapture* capture = s->capture_.get();
    s->input_ = XInput::open(
        display, [capture](int px, int py, int* sx, int* sy) { capture->picture_to_screen(px, py, sx, sy); }, error);
    if (!s->input_) return nullptr;
    s->ended_ = std::move(ended);
    s->keep_ = std::move(keep);
    return s;
}

XSource::~XSource() {
    // Input before capture: the point map refers to the capture.
    if (input_) input_->release_all();
    input_.reset();
}

bool XSource::grab(std::vector<uint16_t>& out, int width, int height, bool force) {
    return capture_->grab(out, width, height, force);
}

void XSource::input(uint8_t type, const uint8_t* payload, uint32_t length) {
    if (type >= MSG_KEY && type <= MSG_GAMEPAD) input_->handle(type, payload, length);
}

std::string XSource::ended() {
    std::string gone = capture_->gone();
    if (gone.empty() && ended_) gone = ended_();
    return gone;
}

}  // namespace qvs
