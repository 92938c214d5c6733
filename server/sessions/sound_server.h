// A client's private sound server, started the first time one of its
// programs needs sound: PulseAudio with a null sink as its only output,
// reachable through a socket in a folder of its own. Programs started with
// PULSE_SERVER set to address() play into it; a SoundRecorder on the same
// address hears them.
#ifndef QV_SERVER_SOUND_SERVER_H
#define QV_SERVER_SOUND_SERVER_H

#include <memory>
#include <string>

#include "server/sessions/child_process.h"
#include "server/sources/sound_recorder.h"

namespace qvs {

class SoundServer {
public:
    // Starts the server with its output in `rate` Hz and `channels`
    // channels and waits until it accepts connections. Null with `error`
    // (English, for the log) when it does not start.
    static std::unique_ptr<SoundServer> start(int rate, int channels, std::string* error);
    // Ends the server and removes its folder.
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // The PULSE_SERVER value: "unix:/tmp/quorvane-sound-.../native".
    const std::string& address() const { return address_; }
    bool running() { return process_.running(); }

private:
    SoundServer() = default;

    std::string folder_, socket_, address_;
    ChildProcess process_;
    // Keeps the null sink working in small steps: alone, it renders 2 s at
    // a time, and each new recorder would wait for the step to end.
    std::unique_ptr<SoundRecorder> pacer_;
};

// The PULSE_SERVER of programs that must not play anywhere: /dev/null is
// no folder, so nothing can ever listen there.
const char* const NO_SOUND_SERVER = "unix:/dev/null/no-sound";

// A sound server for a workspace. Its output runs at 48 kHz in stereo, what
// most programs play anyway; each recorder converts to its client's format.
std::unique_ptr<SoundServer> start_sound_server(std::string* error);

}  // namespace qvs

#endif
