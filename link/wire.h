// The framed wire protocol: header, sending, receiving, message layouts.
//
//   offset 0  u32 LE  length   payload bytes after the header (0 allowed)
//   offset 4  u8      type     client 64..76 ('@'..'L'), server 1..7
//   offset 5  length bytes     payload
#ifndef QV_LINK_WIRE_H
#define QV_LINK_WIRE_H

#include <cstdint>

struct Settings;

enum {
    WIRE_HEADER_SIZE = 5,
    WIRE_MAX_PAYLOAD = 4194304,  // 4 MiB; a larger header ends the link
};

// Client to server.
enum {
    MSG_HELLO = 64,
    MSG_KEY = 65,
    MSG_CHAR = 66,
    MSG_MOUSE_DELTA = 67,
    MSG_MOUSE_POS = 68,
    MSG_MOUSE_BUTTON = 69,
    MSG_MOUSE_WHEEL = 70,
    MSG_GAMEPAD = 71,
    MSG_LAUNCH_APP = 72,
    MSG_WEB_ADDRESS = 73,
    MSG_MENU_REQUEST = 74,
    MSG_PING = 75,
    MSG_FRAME_ACK = 76,
};

// Server to client.
enum {
    MSG_STREAM_SETUP = 1,
    MSG_APP_LIST = 2,
    MSG_VIDEO_FRAME = 3,
    MSG_AUDIO_DATA = 4,
    MSG_STREAM_STATE = 5,
    MSG_SERVER_TEXT = 6,
    MSG_PONG = 7,
};

enum {
    HELLO_SIZE = 80,
    STREAM_SETUP_MIN = 45,
    STREAM_STATE_MIN = 3,
    SERVER_TEXT_MIN = 1,
    PONG_MIN = 4,
    VIDEO_FRAME_MIN = 17,
    WEB_ADDRESS_MAX = 1 + 509,
};

// ServerText slots with their own destination; every other slot is the status line.
enum {
    TEXT_SLOT_WEB_ADDRESS = 1,
    TEXT_SLOT_TITLE = 3,
    TEXT_SLOT_PIN = 4,
};

void put_u32le(uint8_t* destination, uint32_t value);
void put_u16le(uint8_t* destination, uint16_t value);
uint32_t get_u32le(const uint8_t* source);
uint16_t get_u16le(const uint8_t* source);

// Sends one framed message under send_lock; does nothing while `connected`
// is 0. Never waits for the server: what the socket does not take at once
// waits in a queue, in order, for later sends and the network thread's
// receive to push out. A failed send, a full queue, or a queue that the
// socket takes nothing of for 2 s clears `connected`. Both threads.
void send_message(uint8_t type, const uint8_t* payload, uint32_t length);
// The same with send_lock already held by the caller (the Hello, which the
// network thread sends before any window-thread message can go out).
void send_message_locked(uint8_t type, const uint8_t* payload, uint32_t length);
// Throws away what the queue still holds of the last link; with send_lock
// held, before a new link's first message.
void discard_unsent_locked();

// Reads exactly n bytes from state.sock; 1 when all arrived, 0 when the
// peer closed, the socket failed or `connected` went 0. While it waits it
// pushes out what the send queue holds. Network thread only.
int recv_exact(uint8_t* buffer, uint32_t n);

// Builders: each fills `payload` and returns its length.
int build_hello(const Settings* s, uint8_t payload[HELLO_SIZE]);
int build_key(uint8_t payload[4], uint8_t vk, uint16_t scan, uint8_t down);
int build_char(uint8_t payload[2], uint16_t code);
int build_mouse_delta(uint8_t payload[4], int16_t dx, int16_t dy);
int build_mouse_pos(uint8_t payload[4], uint16_t x, uint16_t y);
int build_mouse_button(uint8_t payload[2], uint8_t button, uint8_t down);
int build_mouse_wheel(uint8_t payload[2], int16_t delta);
struct GamepadState {
    int16_t axes[6];     // X, Y, Z, R, U, V, each position - 32768
    uint32_t buttons;    // bit n: button n + 1 down
    uint16_t pov;        // hundredths of a degree, 65535 centred
};
int build_gamepad(uint8_t payload[18], const GamepadState* pad);
int build_launch_app(uint8_t payload[2], uint16_t id);
int build_web_address(uint8_t payload[WEB_ADDRESS_MAX], const char* text);
int build_ping(uint8_t payload[4], uint32_t tick);
int build_frame_ack(uint8_t payload[4], uint32_t frame_id);

// Readers of the server messages: each returns 1 when the payload is long
// enough and fills the record, else 0.
struct StreamSetupFields {
    uint16_t width, height;
    int32_t sample_rate;
    uint8_t channels;
    const uint8_t* text;  // 32 bytes of UTF-8 at offset 13
};
int read_stream_setup(const uint8_t* payload, uint32_t length, StreamSetupFields* out);
struct StreamStateFields {
    uint8_t stream_mode, pointer_mode, app_kind;
};
int read_stream_state(const uint8_t* payload, uint32_t length, StreamStateFields* out);
int read_pong(const uint8_t* payload, uint32_t length, uint32_t* value);
struct VideoFrameHeader {
    uint32_t frame_id;
    uint16_t width, height;
    uint32_t raw_size;
    const uint8_t* compressed;   // at offset 17
    uint32_t compressed_length;  // length - 17
};
int read_video_frame_header(const uint8_t* payload, uint32_t length, VideoFrameHeader* out);

#endif
