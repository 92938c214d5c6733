// The framed wire protocol: sending, receiving and the message layouts.
//
//   +--------+--------+------------------+
//   | length | type   | payload          |   length: u32 little-endian,
//   | 4 B LE | 1 B    | length bytes     |   payload bytes after the header
//   +--------+--------+------------------+
//
// The next header follows the last payload byte; nothing else is framed.
// Every integer in a payload is little-endian; every text is UTF-8 without
// a terminator.
#include "link/wire.h"

#include <atomic>
#include <cstring>

#include "core/client_state.h"
#include "link/net.h"
#include "link/wire_text.h"
#include "settings/settings.h"

void put_u32le(uint8_t* destination, uint32_t value) {
    destination[0] = static_cast<uint8_t>(value);
    destination[1] = static_cast<uint8_t>(value >> 8);
    destination[2] = static_cast<uint8_t>(value >> 16);
    destination[3] = static_cast<uint8_t>(value >> 24);
}

void put_u16le(uint8_t* destination, uint16_t value) {
    destination[0] = static_cast<uint8_t>(value);
    destination[1] = static_cast<uint8_t>(value >> 8);
}

uint32_t get_u32le(const uint8_t* source) {
    return static_cast<uint32_t>(source[0]) | (static_cast<uint32_t>(source[1]) << 8) |
           (static_cast<uint32_t>(source[2]) << 16) | (static_cast<uint32_t>(source[3]) << 24);
}

uint16_t get_u16le(const uint8_t* source) {
    return static_cast<uint16_t>(source[0] | (source[1] << 8));
}

// --- Sending and receiving ------------------------------------------------
//
// No send waits for the server. The socket is non-blocking: what it does
// not take at once waits in send_queue, whole messages in their order, and
// goes out on the next send_message or while the network thread waits for
// data to read. When the socket has taken no byte of the queue for
// SEND_DEADLINE_MS, or a message does not fit behind it, the send has
// failed: `connected` = 0 and the network thread drops the link. The queue
// is thrown away with the link, so a message whose first byte is out is
// followed by its rest or by the end of the link, never by another message.

enum {
    SEND_QUEUE_SIZE = 32768,  // far more than a few seconds of input
    SEND_DEADLINE_MS = 2000,
    RECEIVE_WAIT_MS = 100,    // how often a waiting receive looks at the queue and the flag
};

// Covered by send_lock. send_queued is also read without the lock, as a hint.
static uint8_t send_queue[SEND_QUEUE_SIZE];
static std::atomic<uint32_t> send_queued;
static uint32_t send_progress_tick;  // when the socket last took bytes while some waited

void discard_unsent_locked() { send_queued.store(0); }

static void send_failed() {
    state.connected.store(0);
    discard_unsent_locked();
}

// Hands the socket what it takes of data without waiting: the bytes taken,
// or -1 when the socket failed.
static int32_t send_available(NetSocket s, const uint8_t* data, uint32_t length) {
    uint32_t sent = 0;
    while (sent < length) {
        uint32_t remaining = length - sent;
        // Chunks stay far below INT_MAX whatever the payload length.
        int chunk = remaining > 0x100000u ? 0x100000 : static_cast<int>(remaining);
        int result = net_send(s, data + sent, chunk);
        if (result == NET_WOULD_BLOCK) break;
        if (result <= 0) return -1;
        sent += static_cast<uint32_t>(result);
    }
    return static_cast<int32_t>(sent);
}

// Sends what the queue holds, as far as the socket takes it, and gives the
// link up when the socket has taken nothing for too long.
static void flush_unsent_locked() {
    uint32_t queued = send_queued.load();
    if (queued == 0) return;
    if (state.connected.load() == 0) {
        discard_unsent_locked();  // the link is being dropped
        return;
    }
    int32_t sent = send_available(state.sock.load(), send_queue, queued);
    if (sent < 0) {
        send_failed();
        return;
    }
    uint32_t now = tick_count();
    if (sent > 0) {
        std::memmove(send_queue, send_queue + sent, queued - static_cast<uint32_t>(sent));
        send_queued.store(queued - static_cast<uint32_t>(sent));
        send_progress_tick = now;
    } else if (now - send_progress_tick >= SEND_DEADLINE_MS) {
        send_failed();
    }
}

// Puts the unsent rest of a message behind the queue: `first` (the rest of
// its header) and `second` (the rest of its payload).
static void queue_unsent(const uint8_t* first, uint32_t first_count, const uint8_t* second,
                         uint32_t second_count) {
    uint32_t queued = send_queued.load();
    if (first_count + second_count > SEND_QUEUE_SIZE - queued) {
        send_failed();  // the server has stopped reading long since
        return;
    }
    if (queued == 0) send_progress_tick = tick_count();
    if (first_count != 0) std::memcpy(send_queue + queued, first, first_count);
    if (second_count != 0) std::memcpy(send_queue + queued + first_count, second, second_count);
    send_queued.store(queued + first_count + second_count);
}

void send_message_locked(uint8_t type, const uint8_t* payload, uint32_t length) {
    if (state.connected.load() == 0) {
        discard_unsent_locked();
        return;
    }
    uint8_t header[WIRE_HEADER_SIZE];
    put_u32le(header, length);
    header[4] = type;
    flush_unsent_locked();
    if (state.connected.load() == 0) return;
    // With nothing waiting, header and payload go straight to the socket;
    // only what it does not take is copied into the queue.
    int32_t header_sent = 0;
    int32_t payload_sent = 0;
    if (send_queued.load() == 0) {
        NetSocket s = state.sock.load();
        header_sent = send_available(s, header, WIRE_HEADER_SIZE);
        if (header_sent == WIRE_HEADER_SIZE && length != 0) payload_sent = send_available(s, payload, length);
        if (header_sent < 0 || payload_sent < 0) {
            send_failed();
            return;
        }
    }
    uint32_t header_rest = WIRE_HEADER_SIZE - static_cast<uint32_t>(header_sent);
    uint32_t payload_rest = length - static_cast<uint32_t>(payload_sent);
    if (header_rest + payload_rest != 0) {
        queue_unsent(header + header_sent, header_rest, payload + payload_sent, payload_rest);
    }
}

void send_message(uint8_t type, const uint8_t* payload, uint32_t length) {
    if (state.connected.load() == 0) return;
    lock_enter(&state.send_lock);
    send_message_locked(type, payload, length);
    lock_leave(&state.send_lock);
}

// Network thread: sends what waits, if anything; 1 while bytes still wait.
static int flush_unsent() {
    if (send_queued.load() == 0) return 0;
    lock_enter(&state.send_lock);
    flush_unsent_locked();
    int waiting = send_queued.load() != 0 ? 1 : 0;
    lock_leave(&state.send_lock);
    return waiting;
}

int recv_exact(uint8_t* buffer, uint32_t n) {
    uint32_t got = 0;
    while (got < n) {
        int waiting = flush_unsent();
        // A failed send on either thread gives the link up; a server that
        // neither reads nor writes must not keep this thread waiting.
        if (state.connected.load() == 0) return 0;
        NetSocket s = state.sock.load();
        uint32_t remaining = n - got;
        int chunk = remaining > 0x100000u ? 0x100000 : static_cast<int>(remaining);
        int result = net_recv(s, buffer + got, chunk);
        if (result > 0) {
            got += static_cast<uint32_t>(result);
        } else if (result != NET_WOULD_BLOCK || net_wait(s, waiting, RECEIVE_WAIT_MS) < 0) {
            return 0;
        }
    }
    return 1;
}

// --- Client messages --------------------------------------------------------
//
// Hello, 80 bytes, zero-filled first:
//   0 "QV98"  4 u8 1  5 u8 0  6 u16 bredd  8 u16 hojd  10 u8 fps
//   11 u32 sample rate (0: no sound)  15 u8 channels
//   16 namn, 32 bytes UTF-8 zero-padded  48 nyckel, the same

int build_hello(const Settings* s, uint8_t payload[HELLO_SIZE]) {
    std::memset(payload, 0, HELLO_SIZE);
    payload[0] = 'Q';
    payload[1] = 'V';
    payload[2] = '9';
    payload[3] = '8';
    payload[4] = 1;
    payload[5] = 0;
    put_u16le(payload + 6, static_cast<uint16_t>(s->bredd));
    put_u16le(payload + 8, static_cast<uint16_t>(s->hojd));
    payload[10] = static_cast<uint8_t>(s->fps);
    put_u32le(payload + 11, s->ljud != 0 ? static_cast<uint32_t>(s->ljudfrekvens) : 0u);
    payload[15] = static_cast<uint8_t>(s->stereo);
    to_wire_text(s->namn, payload + 16, 32);
    to_wire_text(s->nyckel, payload + 48, 32);
    return HELLO_SIZE;
}

// Key, 4 bytes: u8 virtual key, u16 scan code (bit 8: extended), u8 down.
int build_key(uint8_t payload[4], uint8_t vk, uint16_t scan, uint8_t down) {
    payload[0] = vk;
    put_u16le(payload + 1, scan);
    payload[3] = down;
    return 4;
}

int build_char(uint8_t payload[2], uint16_t code) {
    put_u16le(payload, code);
    return 2;
}

int build_mouse_delta(uint8_t payload[4], int16_t dx, int16_t dy) {
    put_u16le(payload, static_cast<uint16_t>(dx));
    put_u16le(payload + 2, static_cast<uint16_t>(dy));
    return 4;
}

int build_mouse_pos(uint8_t payload[4], uint16_t x, uint16_t y) {
    put_u16le(payload, x);
    put_u16le(payload + 2, y);
    return 4;
}

int build_mouse_button(uint8_t payload[2], uint8_t button, uint8_t down) {
    payload[0] = button;
    payload[1] = down;
    return 2;
}

int build_mouse_wheel(uint8_t payload[2], int16_t delta) {
    put_u16le(payload, static_cast<uint16_t>(delta));
    return 2;
}

// Gamepad, 18 bytes: six s16 axes (X Y Z R U V), u32 buttons, u16 hat.
int build_gamepad(uint8_t payload[18], const GamepadState* pad) {
    for (int i = 0; i < 6; i++) put_u16le(payload + 2 * i, static_cast<uint16_t>(pad->axes[i]));
    put_u32le(payload + 12, pad->buttons);
    put_u16le(payload + 16, pad->pov);
    return 18;
}

int build_launch_app(uint8_t payload[2], uint16_t id) {
    put_u16le(payload, id);
    return 2;
}

// WebAddress, 1 + n bytes: u8 0, then at most 509 bytes of UTF-8.
int build_web_address(uint8_t payload[WEB_ADDRESS_MAX], const char* text) {
    payload[0] = 0;
    return 1 + to_wire_text(text, payload + 1, WEB_ADDRESS_MAX);
}

int build_ping(uint8_t payload[4], uint32_t tick) {
    put_u32le(payload, tick);
    return 4;
}

int build_frame_ack(uint8_t payload[4], uint32_t frame_id) {
    put_u32le(payload, frame_id);
    return 4;
}

// --- Server messages ----------------------------------------------------------
//
// StreamSetup, at least 45 bytes:
//   2 u16 width  4 u16 height  7 s32 sample rate  11 u8 channels
//   13 32 bytes UTF-8 status text (ends at the first zero byte)
//   (bytes 0-1, 6 and 12 are not read)

int read_stream_setup(const uint8_t* payload, uint32_t length, StreamSetupFields* out) {
    if (length < STREAM_SETUP_MIN) return 0;
    out->width = get_u16le(payload + 2);
    out->height = get_u16le(payload + 4);
    out->sample_rate = static_cast<int32_t>(get_u32le(payload + 7));
    out->channels = payload[11];
    out->text = payload + 13;
    return 1;
}

// StreamState, at least 3 bytes: u8 stream mode, u8 pointer mode, u8 kind.
int read_stream_state(const uint8_t* payload, uint32_t length, StreamStateFields* out) {
    if (length < STREAM_STATE_MIN) return 0;
    out->stream_mode = payload[0];
    out->pointer_mode = payload[1];
    out->app_kind = payload[2];
    return 1;
}

// Pong, at least 4 bytes: the u32 of a Ping, unchanged.
int read_pong(const uint8_t* payload, uint32_t length, uint32_t* value) {
    if (length < PONG_MIN) return 0;
    *value = get_u32le(payload);
    return 1;
}

// VideoFrame, at least 17 bytes:
//   0 u32 frame number  4 u16 width  6 u16 height  8 not read
//   9 u32 raw size (inflated block stream)  13..16 not read  17 zlib body
int read_video_frame_header(const uint8_t* payload, uint32_t length, VideoFrameHeader* out) {
    if (length < VIDEO_FRAME_MIN) return 0;
    out->frame_id = get_u32le(payload);
    out->width = get_u16le(payload + 4);
    out->height = get_u16le(payload + 6);
    out->raw_size = get_u32le(payload + 9);
    out->compressed = payload + VIDEO_FRAME_MIN;
    out->compressed_length = length - VIDEO_FRAME_MIN;
    return 1;
}
