// A Source on an X display: the picture from XCapture, the input through
// XInput, and an end when the capture says so or the owner's check does.
#ifndef QV_SERVER_X_SOURCE_H
#define QV_SERVER_X_SOURCE_H

#include <functional>
#include <memory>
#include <string>

#include "server/sources/sound_recorder.h"
#include "server/sources/source.h"
#include "server/sources/x_capture.h"
#include "server/sources/x_input.h"

namespace qvs {

class XSource : public Source {
public:
    // `window_title` empty: the whole screen. `ended` (may be empty) is
    // asked for a Swedish end text besides the capture's own; `keep` is
    // held as long as the source lives (the session it shows). Null with
    // `error` (English, for the log) when the display or window is not there.
    static std::unique_ptr<XSource> open(const std::string& display, const std::string& window_title,
                                         std::function<std::string()> ended, std::shared_ptr<void> keep,
                                         std::string* error);
    ~XSource() override;

    bool grab(std::vector<uint16_t>& out, int width, int height, bool force) override;
    int wake_fd() override { return capture_->fd(); }
    void drain_wake() override { capture_->drain(); }
    void input(uint8_t type, const uint8_t* payload, uint32_t length) override;
    void release_input() override { input_->release_all(); }
    std::string ended() override;

    // The sound that goes with the picture; without one the stream is silent.
    void set_sound(std::unique_ptr<SoundRecorder> sound) { sound_ = std::move(sound); }
    size_t read_audio(int16_t* out, size_t max_frames) override {
        return sound_ ? sound_->read(out, max_frames) : 0;
    }

private:
    XSource() = default;
    // First, so that it ends last: the X server it keeps must outlive the
    // connections to it, which say goodbye to it as they close.
    std::shared_ptr<void> keep_;
    std::unique_ptr<XCapture> capture_;
    std::unique_ptr<XInput> input_;
    std::function<std::string()> ended_;
    std::unique_ptr<SoundRecorder> sound_;
};

}  // namespace qvs

#endif
