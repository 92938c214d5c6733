// What each server message does to the client state (network thread).
//
//   1 StreamSetup  >= 45 B: 2 u16 width, 4 u16 height, 7 s32 rate,
//                  11 u8 channels, 13 32 B UTF-8 status text
//   2 AppList      u16 count, then entries: u16 id, u8 kind, u8 n, n B name
//   3 VideoFrame   handed whole to the codec
//   4 AudioData    handed whole to audio output
//   5 StreamState  >= 3 B: u8 stream mode, u8 pointer mode, u8 kind
//   6 ServerText   >= 1 B: u8 slot, then UTF-8 text
//   7 Pong         >= 4 B: u32 echoed Ping value
//
// Short payloads change nothing (an AppList below 2 bytes empties the list);
// extra bytes are ignored; other types are read by the caller and dropped.
#include "link/messages.h"

#include "core/client_state.h"
#include "core/client_text.h"
#include "core/notify.h"
#include "link/wire.h"
#include "link/wire_text.h"
#include "media/audio.h"
#include "media/codec.h"
#include "media/frame_buffer.h"

static void on_stream_setup(const uint8_t* payload, uint32_t length) {
    StreamSetupFields setup;
    if (!read_stream_setup(payload, length, &setup)) return;

    char text[STATUS_TEXT_SIZE];
    from_wire_text(setup.text, 32, text, sizeof text);
    text_store(state.status_text, STATUS_TEXT_SIZE, text);

    if (setup.width != state.remote_width.load() || setup.height != state.remote_height.load() ||
        frame_buffer.bitmap == nullptr) {
        create_frame_buffer(setup.width, setup.height);
    }
    if (setup.sample_rate != audio_current_rate() || setup.channels != audio_current_channels() ||
        !audio_is_open()) {
        audio_open(setup.sample_rate, setup.channels);
    }
    state.frame_valid.store(0);
    // Nothing is posted: the text shows at the next repaint.
}

static void on_app_list(const uint8_t* payload, uint32_t length) {
    uint32_t count = length >= 2 ? get_u16le(payload) : 0;
    lock_enter(&state.state_lock);
    // The count goes to 0 first and grows as entries complete, so a reader
    // without the lock never counts an entry that is still being written.
    state.app_count.store(0);
    int32_t taken = 0;
    uint32_t at = 2;
    // Every entry is checked against what the payload really holds: a
    // count larger than the entries present ends the list at the end.
    while (static_cast<uint32_t>(taken) < count && taken < APP_LIST_CAPACITY && at + 4 <= length) {
        AppEntry* entry = &state.apps[taken];
        entry->id = get_u16le(payload + at);
        entry->kind = payload[at + 2];
        uint32_t n = payload[at + 3];
        uint32_t remaining = length - (at + 4);
        from_wire_text(payload + at + 4, n < remaining ? n : remaining, entry->name, APP_NAME_SIZE);
        at += 4 + n;
        taken++;
        state.app_count.store(taken);
    }
    if (state.app_selected.load() >= taken) state.app_selected.store(0);
    lock_leave(&state.state_lock);
    notify_state_changed();
}

static void on_stream_state(const uint8_t* payload, uint32_t length) {
    StreamStateFields fields;
    if (read_stream_state(payload, length, &fields)) {
        state.stream_mode.store(fields.stream_mode);
        state.pointer_mode.store(fields.pointer_mode);
        state.app_kind.store(fields.app_kind);
        if (fields.stream_mode == 0) state.frame_valid.store(0);
    }
    // Posted also for a short payload that changed nothing.
    notify_state_changed();
}

static void on_server_text(const uint8_t* payload, uint32_t length) {
    if (length < SERVER_TEXT_MIN) return;
    uint8_t slot = payload[0];
    char* destination = state.status_text;
    int capacity = STATUS_TEXT_SIZE;
    if (slot == TEXT_SLOT_WEB_ADDRESS) {
        destination = state.web_address;
        capacity = WEB_ADDRESS_SIZE;
    } else if (slot == TEXT_SLOT_TITLE) {
        destination = state.title_text;
        capacity = TITLE_TEXT_SIZE;
    } else if (slot == TEXT_SLOT_PIN) {
        destination = state.pin_text;
        capacity = PIN_TEXT_SIZE;
    }
    // Decoded into a local buffer of the slot's capacity, then copied in
    // under text_lock, so a painter never sees a half-written text.
    char text[STATUS_TEXT_SIZE];
    from_wire_text(payload + 1, length - 1, text, capacity);
    text_store(destination, capacity, text);

    if (slot == TEXT_SLOT_TITLE && text[0] != 0) {
        char title[TITLE_TEXT_SIZE + 16];
        format_text(title, sizeof title, "Quorvane! - %s", text);
        set_main_window_title(title);
    }
    notify_state_changed();
}

static void on_pong(const uint8_t* payload, uint32_t length) {
    uint32_t sent;
    if (!read_pong(payload, length, &sent)) return;
    state.ping_ms.store(tick_count() - sent);
}

void handle_message(uint8_t type, const uint8_t* payload, uint32_t length) {
    switch (type) {
    case MSG_STREAM_SETUP: on_stream_setup(payload, length); break;
    case MSG_APP_LIST: on_app_list(payload, length); break;
    case MSG_VIDEO_FRAME: handle_video_frame(payload, length); break;
    case MSG_AUDIO_DATA: audio_write(payload, length); break;
    case MSG_STREAM_STATE: on_stream_state(payload, length); break;
    case MSG_SERVER_TEXT: on_server_text(payload, length); break;
    case MSG_PONG: on_pong(payload, length); break;
    default: break;  // unknown types are read in full and ignored
    }
}
