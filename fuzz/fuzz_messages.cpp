// Fuzz target: a server's byte stream through the client's own receive loop;
// the state stays sound, and every whole VideoFrame is acknowledged in order.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "core/client_state.h"
#include "fuzz/fuzz_check.h"
#include "link/connection.h"
#include "link/wire.h"
#include "media/audio.h"
#include "media/audio_device.h"
#include "media/audio_device_stub.h"
#include "media/frame_buffer.h"
#include "settings/settings.h"

namespace {

// Writes the input into fd, keeping what the client sends, until it closes.
void feed(int fd, const uint8_t* data, size_t size, std::vector<uint8_t>* answers) {
    size_t sent = 0;
    for (bool sending = true;;) {
        if (sending && sent == size) shutdown(fd, SHUT_WR), sending = false;
        pollfd p = {fd, short(POLLIN | (sending ? POLLOUT : 0)), 0};
        if (poll(&p, 1, -1) < 0 && errno != EINTR) return;
        uint8_t drain[4096];
        ssize_t n = recv(fd, drain, sizeof drain, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;  // the client closed
        if (n > 0) answers->insert(answers->end(), drain, drain + n);
        n = sending ? send(fd, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT) : 0;
        if (n > 0) sent += size_t(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR) sending = false;
    }
}

void check_state() {
    int32_t count = state.app_count.load(), width = state.remote_width.load(), height = state.remote_height.load();
    FUZZ_CHECK(count >= 0 && count <= APP_LIST_CAPACITY && state.app_selected.load() >= 0);
    for (int32_t i = 0; i < count; i++) FUZZ_CHECK(terminated(state.apps[i].name, APP_NAME_SIZE));
    FUZZ_CHECK(terminated(state.status_text, STATUS_TEXT_SIZE) && terminated(state.web_address, WEB_ADDRESS_SIZE) &&
               terminated(state.title_text, TITLE_TEXT_SIZE) && terminated(state.pin_text, PIN_TEXT_SIZE));
    FUZZ_CHECK(width >= 0 && width <= 65535 && height >= 0 && height <= 65535);
    if (frame_buffer.pixels != nullptr) {
        FUZZ_CHECK(width > 0 && height > 0 && frame_buffer.pitch >= width);
        volatile uint16_t last = frame_buffer.pixels[size_t(frame_buffer.pitch) * height - 1];  // the memory covers it
        (void)last;
    }
    FUZZ_CHECK(receive_buffer_capacity() <= WIRE_MAX_PAYLOAD + 65536u);
    FUZZ_CHECK(!audio_is_open() || (audio_current_rate() > 0 && audio_current_channels() > 0));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz_default_artifacts(argc, argv);
    client_state_init_locks();
    settings_reset_defaults();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = LLVMFuzzerInitialize(nullptr, nullptr) == 0;
    (void)ready;
// Receive and inflate buffers keep their size across inputs, as across links.
    client_state_reset();
    create_frame_buffer(160, 120);
    audio_reset_for_tests();
    audio_stub_reset();
    int fds[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0);
    FUZZ_CHECK(fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK) == 0);
    std::vector<uint8_t> answers;
    std::thread feeder(feed, fds[1], data, size, &answers);
    state.sock.store(fds[0]);
    state.connected.store(1);
    for (int played = 0; state.connected.load() && !state.reconnect.load() && receive_one_message();) {
        check_state();
        if (audio_stub.busy[played]) audio_stub_mark_done(played), played = (played + 1) % AUDIO_BUFFER_COUNT;
        audio_stub.queued.clear();
    }
    state.connected.store(0);
    FUZZ_CHECK(state.sock.exchange(NET_NO_SOCKET) == fds[0]);
    close(fds[0]);
    feeder.join();
    close(fds[1]);
    check_state();
// Acked: each whole VideoFrame of >= 17 bytes before the end or an over-limit header.
    std::vector<uint8_t> expected;
    for (size_t at = 0; size - at >= WIRE_HEADER_SIZE;) {
        uint32_t length = get_u32le(data + at);
        if (length > WIRE_MAX_PAYLOAD || length > size - at - WIRE_HEADER_SIZE) break;
        if (data[at + 4] == MSG_VIDEO_FRAME && length >= VIDEO_FRAME_MIN)
            expected.insert(expected.end(), {4, 0, 0, 0, MSG_FRAME_ACK}), expected.insert(expected.end(), data + at + 5, data + at + 9);
        at += WIRE_HEADER_SIZE + length;
    }
    FUZZ_CHECK(answers == expected);
    return 0;
}
