// server/moonlight/ owns the bridge to GameStream hosts: their HTTP API, pairing, the streams; this is its Source.
//
// A menu entry of a GameStream host (Sunshine, Apollo) as a picture source.
// Getting ready runs on a thread of its own, as it may wait minutes for a
// person: pair by PIN when needed (the PIN goes to the client as text slot
// 4), then /launch the app, or /resume it when the host already runs it,
// then the stream. Leaving the stream leaves the app running on the host.
#ifndef QV_SERVER_MOONLIGHT_MOONLIGHT_SOURCE_H
#define QV_SERVER_MOONLIGHT_MOONLIGHT_SOURCE_H

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "server/config.h"
#include "server/moonlight/game_stream.h"
#include "server/moonlight/host_api.h"
#include "server/sources/source.h"

namespace qvs {

// The Swedish text a client gets when an entry names no app: pairing is
// done (or was), and the menu now lists the host's apps.
extern const char* const MOONLIGHT_CHOOSE_APP;

class MoonlightSource : public Source {
public:
    MoonlightSource(const AppEntry& entry, const StreamFormat& format);
    ~MoonlightSource() override;

    bool ready() override { return ready_.load(); }
    bool grab(std::vector<uint16_t>& out, int width, int height, bool force) override;
    int wake_fd() override;
    void drain_wake() override;
    void input(uint8_t type, const uint8_t* payload, uint32_t length) override;
    void release_input() override;
    size_t read_audio(int16_t* out, size_t max_frames) override;
    bool next_text(uint8_t* slot, std::string* text) override;
    std::string ended() override;
    uint8_t pointer_mode() const override { return entry_.locked_pointer ? 0 : 1; }

private:
    void get_ready();                                   // the thread
    bool pair(HostApi& api, const ServerInfo& info);    // false: failed (fail() called)
    void say(uint8_t slot, const std::string& text);
    void fail(const std::string& text);

    AppEntry entry_;
    StreamFormat format_;
    std::atomic<bool> cancel_{false}, ready_{false};
    std::unique_ptr<GameStream> stream_;  // set once before ready_, then only read

    std::mutex lock_;  // covers texts_ and failure_
    std::deque<std::pair<uint8_t, std::string>> texts_;
    std::string failure_;

    std::thread thread_;
};

}  // namespace qvs

#endif
