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
// array, the picture's memory matching its size. At the end, what the
// client sent back must be one FrameAck for every whole VideoFrame of at
// least 17 bytes, in order, and nothing else.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <random>
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

// Writes the whole input into `fd` and shuts its sending side, reading
// what the client sends meanwhile into `answers`, until the client closes.
void feed(int fd, const uint8_t* data, size_t size, std::vector<uint8_t>* answers) {
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
            if (n > 0) answers->insert(answers->end(), drain, drain + n);
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

// The frame numbers the client must acknowledge for this input, in order:
// those of every VideoFrame of at least 17 bytes that arrives whole before
// the stream ends or a header announces more than the largest payload.
std::vector<uint32_t> frames_to_acknowledge(const uint8_t* data, size_t size) {
    std::vector<uint32_t> ids;
    size_t at = 0;
    while (size - at >= WIRE_HEADER_SIZE) {
        uint32_t length = get_u32le(data + at);
        if (length > WIRE_MAX_PAYLOAD || length > size - at - WIRE_HEADER_SIZE) break;
        if (data[at + 4] == MSG_VIDEO_FRAME && length >= VIDEO_FRAME_MIN)
            ids.push_back(get_u32le(data + at + WIRE_HEADER_SIZE));
        at += WIRE_HEADER_SIZE + length;
    }
    return ids;
}

// What the client sent must be exactly one FrameAck per such frame.
void check_answers(const std::vector<uint8_t>& answers, const std::vector<uint32_t>& ids) {
    FUZZ_CHECK(answers.size() == ids.size() * (WIRE_HEADER_SIZE + 4));
    for (size_t i = 0; i < ids.size(); i++) {
        const uint8_t* ack = answers.data() + i * (WIRE_HEADER_SIZE + 4);
        FUZZ_CHECK(get_u32le(ack) == 4 && ack[4] == MSG_FRAME_ACK);
        FUZZ_CHECK(get_u32le(ack + WIRE_HEADER_SIZE) == ids[i]);
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
    std::vector<uint8_t> answers;
    std::thread feeder(feed, fds[1], data, size, &answers);

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
    check_answers(answers, frames_to_acknowledge(data, size));
    return 0;
}

#ifdef QV_LIBFUZZER
// A mutator that knows the framing. Byte-level mutation alone seldom keeps
// a stream of messages whole, and never gets a changed block stream past
// zlib's checksum. So most mutations work on whole messages: change one
// payload and frame it again, insert, copy, drop or swap messages, and for
// a VideoFrame inflate its block stream, change that (and at times the
// picture size or raw_size) and deflate it again. The rest are plain
// byte-level mutations of the whole stream, which break the framing too.
extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t max_size);

namespace {

struct Piece {
    uint8_t type;
    std::vector<uint8_t> payload;
};

uint32_t u32_at(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

// The whole messages at the start of the stream; `tail` gets the rest.
void split(const uint8_t* data, size_t size, std::vector<Piece>& pieces, std::vector<uint8_t>& tail) {
    size_t at = 0;
    while (size - at >= WIRE_HEADER_SIZE) {
        uint32_t length = u32_at(data + at);
        if (length > size - at - WIRE_HEADER_SIZE) break;
        const uint8_t* payload = data + at + WIRE_HEADER_SIZE;
        pieces.push_back(Piece{data[at + 4], std::vector<uint8_t>(payload, payload + length)});
        at += WIRE_HEADER_SIZE + length;
    }
    tail.assign(data + at, data + size);
}

size_t join(const std::vector<Piece>& pieces, const std::vector<uint8_t>& tail, uint8_t* out, size_t max_size) {
    size_t total = tail.size();
    for (const Piece& p : pieces) total += WIRE_HEADER_SIZE + p.payload.size();
    if (total > max_size) return 0;
    size_t at = 0;
    for (const Piece& p : pieces) {
        put32(out + at, uint32_t(p.payload.size()));
        out[at + 4] = p.type;
        if (!p.payload.empty()) std::memcpy(out + at + WIRE_HEADER_SIZE, p.payload.data(), p.payload.size());
        at += WIRE_HEADER_SIZE + p.payload.size();
    }
    if (!tail.empty()) std::memcpy(out + at, tail.data(), tail.size());
    return total;
}

void mutate_bytes(std::vector<uint8_t>& bytes, size_t room) {
    size_t old = bytes.size();
    bytes.resize(old + room);
    size_t n = LLVMFuzzerMutate(bytes.data(), old, old + room);
    bytes.resize(n);
}

// A VideoFrame with its block stream changed; 0 when it does not inflate.
bool mutate_frame(Piece& frame, std::mt19937& rng) {
    std::vector<uint8_t>& body = frame.payload;
    if (body.size() < 17) return false;
    uLongf raw = u32_at(body.data() + 9);
    if (raw == 0 || raw > (1u << 20)) return false;
    std::vector<uint8_t> stream(raw);
    if (uncompress(stream.data(), &raw, body.data() + 17, uLong(body.size() - 17)) != Z_OK) return false;
    stream.resize(raw);
    if (rng() % 4 == 0) {
        // Another picture size: the same stream then lands on other blocks.
        uint16_t width = uint16_t(1 + rng() % 200), height = uint16_t(1 + rng() % 150);
        body[4] = uint8_t(width);
        body[5] = uint8_t(width >> 8);
        body[6] = uint8_t(height);
        body[7] = uint8_t(height >> 8);
    }
    mutate_bytes(stream, 256);
    uLongf packed_size = compressBound(uLong(stream.size()));
    std::vector<uint8_t> packed(packed_size);
    if (compress2(packed.data(), &packed_size, stream.data(), uLong(stream.size()), int(rng() % 10)) != Z_OK)
        return false;
    uint32_t raw_size = uint32_t(stream.size());
    switch (rng() % 8) {
    case 0: raw_size = raw_size > 0 ? raw_size - 1 : 0; break;  // one byte short: must not inflate
    case 1: raw_size += rng() % 8192; break;                    // room to spare
    default: break;
    }
    body.resize(17);
    put32(body.data() + 9, raw_size);
    body.insert(body.end(), packed.begin(), packed.begin() + long(packed_size));
    return true;
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size, unsigned int seed) {
    std::mt19937 rng(seed);
    std::vector<Piece> pieces;
    std::vector<uint8_t> tail;
    split(data, size, pieces, tail);
    unsigned choice = rng() % 8;
    if (choice == 0 || pieces.empty()) return LLVMFuzzerMutate(data, size, max_size);

    size_t pick = rng() % pieces.size();
    switch (choice) {
    case 1:
    case 2:
        mutate_bytes(pieces[pick].payload, 64);
        break;
    case 3:
    case 4: {
        // A VideoFrame if there is one, from `pick` on.
        size_t k = 0;
        while (k < pieces.size() && pieces[(pick + k) % pieces.size()].type != MSG_VIDEO_FRAME) k++;
        if (k == pieces.size() || !mutate_frame(pieces[(pick + k) % pieces.size()], rng))
            mutate_bytes(pieces[pick].payload, 64);
        break;
    }
    case 5:
        pieces.insert(pieces.begin() + long(rng() % (pieces.size() + 1)), pieces[pick]);
        break;
    case 6:
        if (rng() % 2 == 0 && pieces.size() > 1) {
            pieces.erase(pieces.begin() + long(pick));
        } else {
            std::swap(pieces[pick], pieces[rng() % pieces.size()]);
        }
        break;
    default: {
        // A new message of any type (8 is unknown) with a short payload.
        Piece p{uint8_t(rng() % 9), std::vector<uint8_t>(rng() % 64)};
        for (uint8_t& b : p.payload) b = uint8_t(rng());
        if (p.type == MSG_STREAM_SETUP) p.payload.resize(45 + rng() % 4);
        pieces.insert(pieces.begin() + long(rng() % (pieces.size() + 1)), p);
        break;
    }
    }
    size_t n = join(pieces, tail, data, max_size);
    return n > 0 ? n : LLVMFuzzerMutate(data, size, max_size);
}
#endif
