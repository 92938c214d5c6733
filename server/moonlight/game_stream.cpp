// A game stream: the RTSP handshake, then the control stream, video and
// sound, each with its thread, tied together behind the source interface.
#include "server/moonlight/game_stream.h"

#include <mutex>

#include "server/log.h"
#include "server/moonlight/audio_receiver.h"
#include "server/moonlight/byte_order.h"
#include "server/moonlight/control_stream.h"
#include "server/moonlight/input_translator.h"
#include "server/moonlight/rtsp_client.h"
#include "server/moonlight/video_receiver.h"

namespace qvs {

namespace {

// Sunshine and its kin give appversion a negative fourth number.
bool is_sunshine(const std::string& app_version) {
    size_t last = app_version.rfind('.');
    return last != std::string::npos && app_version.compare(last + 1, 1, "-") == 0;
}

}  // namespace

struct GameStream::Parts {
    explicit Parts(const GameStreamLaunch& l)
        : launch(l),
          video([this] { control.request_idr(); }),
          input(l.width, l.height, is_sunshine(l.app_version) ? KEY_AS_IS : 0) {}
    GameStreamLaunch launch;
    // Destroyed last to first: the receivers stop before the control stream
    // says goodbye.
    ControlStream control;
    AudioReceiver audio;
    VideoReceiver video;
    std::mutex input_lock;
    InputTranslator input;  // under input_lock

    void send(const std::vector<InputPacket>& packets) {
        for (const InputPacket& p : packets) control.send_input(p, channel_of(p));
    }
    static uint8_t channel_of(const InputPacket& p) {
        switch (get_le32(&p[4])) {
        case INPUT_KEY_DOWN:
        case INPUT_KEY_UP: return CHANNEL_KEYBOARD;
        case INPUT_TEXT: return CHANNEL_TEXT;
        case INPUT_CONTROLLER: return CHANNEL_PAD;
        default: return CHANNEL_MOUSE;
        }
    }
};

GameStream::GameStream(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}

GameStream::~GameStream() { release_input(); }

std::unique_ptr<GameStream> GameStream::start(const GameStreamLaunch& launch, std::string* error) {
    std::unique_ptr<Parts> parts(new Parts(launch));
    RtspSession session;
    std::string why;
    bool ok = rtsp_handshake(launch, &session, &why) &&
              parts->audio.start(launch.host, session.audio_port, session.ping_payload, launch.audio_rate,
                                 launch.audio_channels, &why) &&
              parts->control.start(launch.host, session.control_port, session.connect_data, launch.rikey, &why) &&
              parts->video.start(launch.host, session.video_port, session.ping_payload, session.packet_size, &why);
    if (!ok) {
        log_line("game stream from %s: %s", loggable(launch.host).c_str(), why.c_str());
        if (error) *error = "Strömmen från värddatorn kunde inte startas.";
        return nullptr;
    }
    log_line("game stream from %s: %dx%d at %d fps", loggable(launch.host).c_str(), launch.width, launch.height,
             launch.fps);
    return std::unique_ptr<GameStream>(new GameStream(std::move(parts)));
}

bool GameStream::grab(std::vector<uint16_t>& out, int width, int height, bool force) {
    {
        std::lock_guard<std::mutex> hold(parts_->input_lock);
        parts_->input.set_client_size(width, height);
    }
    return parts_->video.grab(out, width, height, force);
}

int64_t GameStream::picture_arrival_us() const { return parts_->video.picture_arrival_us(); }
int GameStream::wake_fd() { return parts_->video.wake_fd(); }
void GameStream::drain_wake() { parts_->video.drain_wake(); }
size_t GameStream::read_audio(int16_t* out, size_t max_frames) { return parts_->audio.read(out, max_frames); }

void GameStream::input(uint8_t type, const uint8_t* payload, uint32_t length) {
    std::lock_guard<std::mutex> hold(parts_->input_lock);
    parts_->send(parts_->input.translate(type, payload, length));
}

void GameStream::release_input() {
    std::lock_guard<std::mutex> hold(parts_->input_lock);
    parts_->send(parts_->input.release_all());
}

std::string GameStream::ended() {
    switch (parts_->control.end()) {
    case ControlStream::HOST_QUIT: return "Spelet avslutades på värddatorn.";
    case ControlStream::HOST_SILENT: return "Värddatorn svarar inte längre.";
    case ControlStream::HOST_DISCONNECTED: return "Värddatorn avbröt strömmen.";
    default: return std::string();
    }
}

}  // namespace qvs
