// A client's private sound server, started the first time one of its
// programs needs sound; the programs find it through PULSE_SERVER.
#ifndef QV_SERVER_SOUND_SERVER_H
#define QV_SERVER_SOUND_SERVER_H

#include <memory>
#include <string>

namespace qvs {

class SoundServer {
public:
    virtual ~SoundServer() = default;
    // The value for PULSE_SERVER.
    virtual std::string address() const = 0;
};

// Null (with `error` for the log) when no sound server can be had.
std::unique_ptr<SoundServer> start_sound_server(std::string* error);

}  // namespace qvs

#endif
