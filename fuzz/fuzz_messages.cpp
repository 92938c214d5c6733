// Fuzz target: what a server sends. The input is the byte stream of one
// connection; a feeder thread writes it into one end of a connected socket
// pair and the client's own receive loop reads the other end as state.sock:
// receive_one_message (header, size check, receive buffer, recv_exact) and
// handle_message with everything behind it (StreamSetup, AppList, the
// VideoFrame path with zlib and the block decoder, AudioData into the sound
// ring, StreamState, ServerText, Pong). The FrameAcks the client sends go
// back through the same socket and are drained by the feeder.
//
// Stand-ins only for the devices: the frame buffer is plain memory, the
// window notifications are counted, and the sound device plays one buffer
// per message handled. Sound is on (ljud 1), so StreamSetup opens it.
//
// After every message the shared state must still hold what the window
// thread relies on: the counts in range, every text terminated inside its
// array, the picture's memory matching its size.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <thread>

#include "app/client_state.h"
#include "fuzz/fuzz_check.h"
#include "link/connection.h"
#include "link/wire.h"
#include "media/audio.h"
#include "media/audio_device.h"
#include "media/audio_device_stub.h"
#include "media/frame_buffer.h"
#include "settings/settings.h"

namespace {

// Writes the whole input into `fd` and shuts its sending side, reading and
// dropping whatever the client sends meanwhile, until the client closes.
void feed(int fd, const uint8_t* data, size_t size) {
    size_t sent = 0;
    bool open_for_sending = true;
    if (size == 0) {
        shutdown(fd, SHUT_WR);
        open_for_sending = false;
    }
    for (;;) {
        pollfd p = {fd, static_cast<short>(POLLIN | (open_for_sending ? POLLOUT : 0)), 0};
        if (poll(&p, 1, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
            uint8_t drain[4096];
            ssize_t n = recv(fd, drain, sizeof drain, MSG_DONTWAIT);
            if (n == 0) return;  // the client closed its end
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return;
        }
        if (open_for_sending && (p.revents & POLLOUT)) {
            ssize_t n = send(fd, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) sent += static_cast<size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) open_for_sending = false;
            if (sent == size) {
                shutdown(fd, SHUT_WR);
                open_for_sending = false;
            }
        }
    }
}

bool terminated_within(const char* text, size_t size) { return std::memchr(text, 0, size) != nullptr; }

void check_state() {
    int32_t count = state.app_count.load();
    FUZZ_CHECK(count >= 0 && count <= APP_LIST_CAPACITY);
    for (int32_t i = 0; i < count; i++) FUZZ_CHECK(terminated_within(state.apps[i].name, APP_NAME_SIZE));
    FUZZ_CHECK(state.app_selected.load() >= 0);
    FUZZ_CHECK(terminated_within(state.status_text, STATUS_TEXT_SIZE));
    FUZZ_CHECK(terminated_within(state.web_address, WEB_ADDRESS_SIZE));
    FUZZ_CHECK(terminated_within(state.title_text, TITLE_TEXT_SIZE));
    FUZZ_CHECK(terminated_within(state.pin_text, PIN_TEXT_SIZE));

    int32_t width = state.remote_width.load(), height = state.remote_height.load();
    FUZZ_CHECK(width >= 0 && width <= 65535 && height >= 0 && height <= 65535);
    if (frame_buffer.pixels != nullptr) {
        FUZZ_CHECK(width > 0 && height > 0 && frame_buffer.pitch >= width);
        // Touch the last pixel: the memory must cover the whole picture.
        volatile uint16_t last = frame_buffer.pixels[static_cast<size_t>(frame_buffer.pitch) * height - 1];
        (void)last;
    }
    FUZZ_CHECK(receive_buffer_capacity() <= WIRE_MAX_PAYLOAD + 65536u);
    if (audio_is_open()) FUZZ_CHECK(audio_current_rate() > 0 && audio_current_channels() > 0);
}

// The sound device plays one buffer, oldest first, per message handled.
int play_cursor;
void play_one_buffer() {
    if (audio_stub.busy[play_cursor]) {
        audio_stub_mark_done(play_cursor);
        play_cursor = (play_cursor + 1) % AUDIO_BUFFER_COUNT;
    }
    audio_stub.queued.clear();  // what was played is not kept
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    client_state_init_locks();
    settings_reset_defaults();
    settings.ljud = 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = false;
    if (!ready) {
        LLVMFuzzerInitialize(nullptr, nullptr);
        ready = true;
    }
    // A fresh start for every input, as at program start: the state's
    // initial values, a picture of the smallest size the settings allow,
    // sound closed. The receive and inflate buffers keep what earlier
    // inputs made them, as they do across connections.
    client_state_reset();
    create_frame_buffer(160, 120);
    audio_reset_for_tests();
    audio_stub_reset();
    play_cursor = 0;

    int fds[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0);
    FUZZ_CHECK(fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK) == 0);
    std::thread feeder(feed, fds[1], data, size);

    state.sock.store(fds[0]);
    state.connected.store(1);
    // The receive loop of the network thread, message by message.
    while (state.connected.load() != 0 && state.quit.load() == 0 && state.reconnect.load() == 0) {
        if (!receive_one_message()) break;
        check_state();
        play_one_buffer();
    }
    state.connected.store(0);
    NetSocket own = state.sock.exchange(NET_NO_SOCKET);
    FUZZ_CHECK(own == fds[0]);
    close(fds[0]);
    feeder.join();
    close(fds[1]);
    check_state();
    return 0;
}
