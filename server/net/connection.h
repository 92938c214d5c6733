// One client connection, on one thread with poll() so that Pings are
// answered while frames go out. It reads and dispatches the client's
// messages and keeps the phase; the greeting and menu are in
// connection_menu.cpp, the stream phase in Stream, the bytes waiting for the
// socket in OutputQueue.
//
//   client                      server
//   Hello (QV98, size, fps,  -> AppList, ServerText welcome
//          sound, name, key)    (wrong key: ServerText, then close)
//   LaunchApp id             -> ServerText "Startar ...", then StreamSetup,
//                               texts, StreamState 1, VideoFrames (at most
//                               `window` unacknowledged) and AudioData
//                               (an entry that must pair first: its texts,
//                               the PIN in slot 4, while the menu stays)
//   FrameAck n               (covers every frame up to n)
//   MenuRequest              -> StreamState 0, status (programs keep running)
//   Ping t                   -> Pong t, ahead of everything not yet begun
//   Key, Char, Mouse*,       -> the running entry's source
//   Gamepad, WebAddress
#ifndef QV_SERVER_CONNECTION_H
#define QV_SERVER_CONNECTION_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "server/net/admission.h"
#include "server/net/output_queue.h"
#include "server/net/server.h"
#include "server/net/stream.h"
#include "server/protocol.h"
#include "server/sessions/workspace.h"

namespace qvs {

class Connection {
public:
    Connection(const std::shared_ptr<Admission>& admission, const ServerConfig& config, int number,
               const std::string& peer, const std::atomic<bool>* stop)
        : admission_(admission), fd_(admission->fd()), config_(config), number_(number), host_(admission->host()),
          peer_(peer), stop_(stop), stream_(config, number, out_) {}
    ~Connection();

    // Serves the client until the connection ends; closes the socket.
    void run();

private:
    // STARTING: an entry is getting ready (pairing with a game stream host
    // waits for a person); the menu stays up meanwhile.
    enum Phase { AWAIT_HELLO, MENU, STARTING, STREAMING, CLOSING };

    // --- I/O (connection.cpp) ----------------------------------------
    bool read_input();       // false: the client left or the link failed
    bool handle_buffered();  // false: the connection ends
    bool flush_output();
    void queue(Bytes message, OutKind kind = OUT_CONTROL);
    void end(const std::string& why) {
        if (!ended_) end_reason_ = why;
        ended_ = true;
    }
    void handle(uint8_t type, const uint8_t* payload, uint32_t length);
    void produce(int64_t now);
    bool wait(int64_t now);  // false: the connection ends
    void log_close();

    // --- Greeting and menu (connection_menu.cpp) ---------------------
    void on_hello();
    void on_launch(uint16_t id);
    void begin_streaming();
    void close_stream();
    void back_to_menu(const std::string& status);
    void send_menu();

    std::shared_ptr<Admission> admission_;
    int fd_;
    const ServerConfig& config_;
    int number_;
    std::string host_, peer_;
    const std::atomic<bool>* stop_;

    Phase phase_ = AWAIT_HELLO;
    bool ended_ = false;
    std::string end_reason_;
    int64_t started_ = 0, last_input_ = 0, phase_deadline_ = 0;
    bool close_when_flushed_ = false;
    bool hello_waiting_ = false;  // a Hello whose key is read once the address may try again
    int64_t hello_retry_ = 0;

    Bytes in_;
    OutputQueue out_;
    uint32_t pings_ = 0;

    // From the Hello.
    Hello hello_;
    StreamFormat format_;
    int fps_ = 30;
    std::shared_ptr<Workspace> workspace_;
    std::vector<AppEntry> menu_;  // as this client was last sent it

    Stream stream_;  // after out_, which it writes to
};

}  // namespace qvs

#endif
