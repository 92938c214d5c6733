// quorvane-server: listening, and serving one client at a time.
#ifndef QV_SERVER_SERVER_H
#define QV_SERVER_SERVER_H

#include <atomic>
#include <cstdint>
#include <string>

#include "server/encoder.h"

namespace qvs {

struct ServerConfig {
    EncoderOptions encoder;
    bool require_key = false;
    std::string key;            // UTF-8, compared with the Hello's key field
    int fps = 0;                // frames per second; 0: what the client asks for
    int width = 0, height = 0;  // picture size; 0: what the client asks for
    int window = 2;             // video frames sent but not yet acknowledged, at most
    bool audio = true;          // send sound when the client wants it
    bool noise = false;         // picture source: random pixels instead of the demo
    uint32_t frame_limit = 0;   // end a connection after this many frames; 0: never
    int hello_timeout_ms = 10000;  // a connection must greet within this time
    int idle_timeout_ms = 15000;   // a connection that sends nothing for this long is dropped
    int pin_ms = 5000;             // the game-stream entry shows its PIN this long
    int refuse_linger_ms = 3000;   // a refused client sees its status text this long
    bool verbose = false;          // log every input message
};

// Limits on what a client may ask for.
const int MIN_WIDTH = 16, MAX_WIDTH = 1600, MIN_HEIGHT = 16, MAX_HEIGHT = 1200;
const int MAX_FPS = 60;
const int MIN_SAMPLE_RATE = 8000, MAX_SAMPLE_RATE = 48000;

// One line on stderr, with the time of day in front.
void log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Opens a listening TCP socket on address:port (port 0: any free port).
// Returns the socket, or -1 with `error` filled. `bound_port` gets the port.
int open_listener(const std::string& address, int port, int* bound_port, std::string* error);

// Serves one connection until it ends; closes `fd`. `stop` may be null.
void serve_connection(int fd, const ServerConfig& config, int number, const std::string& peer,
                      const std::atomic<bool>* stop);

// Accepts clients one after the other until `stop` is set (checked at
// least every 200 ms) or, when max_connections > 0, that many have been
// served. Does not close listen_fd.
void serve(int listen_fd, const ServerConfig& config, const std::atomic<bool>* stop, int max_connections);

}  // namespace qvs

#endif
