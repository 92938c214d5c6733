// server/net/ owns the clients' links: listening, admission, the key gate, each connection with its stream.
//
// quorvane-server: listening, and serving every client on a thread of its own.
#ifndef QV_SERVER_SERVER_H
#define QV_SERVER_SERVER_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "server/config.h"
#include "server/encode/encoder.h"
#include "server/log.h"

namespace qvs {

struct ServerConfig {
    EncoderOptions encoder{6, DEFAULT_LOSSY_QUALITY};  // the start of automatic quality, or fixed
    bool auto_quality = true;   // the quality follows each client's link and decoding speed
    std::vector<AppEntry> apps;     // the menu; empty: the demo alone
    bool require_key = false;
    std::string key;            // UTF-8, compared with the Hello's key field
    int64_t keep_sessions_ms = 10 * 60 * 1000;  // a client's programs outlive a lost link this long
    int fps = 0;                // frames per second; 0: what the client asks for
    int width = 0, height = 0;  // picture size; 0: what the client asks for
    int window = 2;             // video frames sent but not yet acknowledged, at most
    bool audio = true;          // send sound when the client wants it
    bool noise = false;         // demo entries: random pixels instead of the animation
    uint32_t frame_limit = 0;   // end a connection after this many frames; 0: never
    int hello_timeout_ms = 10000;  // a connection must greet within this time
    int idle_timeout_ms = 15000;   // a connection that sends nothing for this long is dropped
    int refuse_linger_ms = 3000;   // a refused client sees its status text this long
    int wrong_key_wait_ms = 1000;  // after a wrong key, the same address waits this long
    bool verbose = false;          // log every input message
};

// Limits on what a client may ask for.
const int MIN_WIDTH = 16, MAX_WIDTH = 1600, MIN_HEIGHT = 16, MAX_HEIGHT = 1200;
const int MAX_FPS = 60;
const int MIN_SAMPLE_RATE = 8000, MAX_SAMPLE_RATE = 48000;
// Connections served at once; more are turned away.
const int MAX_CONNECTIONS = 32;

// Opens a listening TCP socket on address:port (port 0: any free port).
// Returns the socket, or -1 with `error` filled. `bound_port` gets the port.
int open_listener(const std::string& address, int port, int* bound_port, std::string* error);

class Admission;

// Serves one connection until it ends; closes its socket. `stop` may be
// null. Wrong keys are counted by the admission's address.
void serve_connection(const std::shared_ptr<Admission>& admission, const ServerConfig& config, int number,
                      const std::string& peer, const std::atomic<bool>* stop);

// Accepts clients, each on a thread of its own, until `stop` is set
// (checked at least every 200 ms) or, when max_connections > 0, that many
// have come and been served. Ends every client's sessions before it
// returns. Does not close listen_fd.
void serve(int listen_fd, const ServerConfig& config, const std::atomic<bool>* stop, int max_connections);

}  // namespace qvs

#endif
