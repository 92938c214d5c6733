// The state shared by the window thread and the network thread.
//
// ClientState exists once (the global `state`), is filled with its initial
// values at program start (client_state_reset) and lives until the process
// ends. Every field says who writes it, who reads it and what covers it.
//
// Publication: fields that one thread writes and the other reads without a
// lock are std::atomic words, so that each value read is one that was
// written. Texts are written and copied under `text_lock` (client_text.h),
// held only for the copy and never together with another lock.
#ifndef QV_CORE_CLIENT_STATE_H
#define QV_CORE_CLIENT_STATE_H

#include <atomic>
#include <cstdint>

#include "core/sys.h"

// The two private notifications from the network thread to the window
// thread (posted to main_window with both parameters 0).
enum {
    WM_FRAME_READY = 0x8000 + 1,    // WM_APP + 1: a VideoFrame was handled; paint at once
    WM_STATE_CHANGED = 0x8000 + 2,  // WM_APP + 2: status, list, mode or text changed
};

enum {
    APP_LIST_CAPACITY = 64,
    APP_NAME_SIZE = 64,
    STATUS_TEXT_SIZE = 256,
    WEB_ADDRESS_SIZE = 256,
    TITLE_TEXT_SIZE = 128,
    PIN_TEXT_SIZE = 32,
};

// Application kinds, as in AppList and StreamState.
enum {
    APP_KIND_PROGRAM = 0,
    APP_KIND_SCREEN = 1,
    APP_KIND_WINDOW = 2,
    APP_KIND_WEB = 3,
    APP_KIND_MOONLIGHT = 4,
};

// One application the server offers.
struct AppEntry {
    uint16_t id;                 // the server's id, sent back in LaunchApp
    uint8_t kind;                // APP_KIND_*; other values show as a program
    char name[APP_NAME_SIZE];    // Windows-1252, NUL-terminated
};

// A socket handle as the socket layer knows it; -1 when there is none
// (Winsock's INVALID_SOCKET is all ones, the same bits).
typedef intptr_t NetSocket;
const NetSocket NET_NO_SOCKET = -1;

struct ClientState {
    // --- Connection -------------------------------------------------------
    // The socket to the server, -1 when none. Network thread: set before each
    // connect attempt, taken out (exchange with -1) when it gives it back.
    // The window thread (F10, shutdown) takes it out the same way and only
    // wakes it (close_link_socket), which makes a blocked receive fail; the
    // network thread gives the handle back once no wake and no send is using
    // it, so a handle is never closed twice nor used after reuse.
    std::atomic<NetSocket> sock;
    std::atomic<int32_t> connected;   // 1 while the link is up; cleared by a failed send (either thread) or the end of the receive loop
    std::atomic<int32_t> quit;        // stop flag, window thread sets it once
    std::atomic<int32_t> reconnect;   // window thread: 1 after an accepted F10 dialog; network thread: 0 after each connect

    // --- Stream (StreamState) ----------------------------------------------
    std::atomic<int32_t> stream_mode;   // 0 menu, 1 streaming, other: neither; network thread (and 0 on connect/loss)
    std::atomic<int32_t> pointer_mode;  // nonzero absolute pointer, 0 locked mouse; network thread, F8 on the window thread
    std::atomic<int32_t> app_kind;      // kind of the running application; network thread

    // --- Remote picture size (changed only by create_frame_buffer, under state_lock)
    std::atomic<int32_t> remote_width;   // initial 640
    std::atomic<int32_t> remote_height;  // initial 480

    // --- Application list (rebuilt by the network thread under state_lock) --
    AppEntry apps[APP_LIST_CAPACITY];
    std::atomic<int32_t> app_count;      // 0..64; 0 on every lost link (without the lock)
    std::atomic<int32_t> app_selected;   // window thread moves it; network thread clamps it after an AppList

    // --- Texts: Windows-1252, NUL-terminated; see client_text.h -------------
    char status_text[STATUS_TEXT_SIZE];  // status line: connection texts, StreamSetup text, other ServerText slots
    char web_address[WEB_ADDRESS_SIZE];  // ServerText slot 1; the address bar on Enter
    char title_text[TITLE_TEXT_SIZE];    // ServerText slot 3
    char pin_text[PIN_TEXT_SIZE];        // ServerText slot 4; emptied on each connect

    // --- Picture and statistics ---------------------------------------------
    std::atomic<int32_t> frame_valid;    // 1 when the frame buffer holds a picture of this stream
    std::atomic<uint32_t> frame_count;   // VideoFrames handled since the last statistics update
    std::atomic<uint32_t> byte_count;    // bytes received since then (payload + 5 per message)
    uint32_t stats_tick;                 // window thread only: time of the last update
    std::atomic<uint32_t> stat_fps;      // window thread writes, painting reads
    std::atomic<uint32_t> stat_kbps;
    std::atomic<uint32_t> ping_ms;       // network thread on each Pong
    std::atomic<int32_t> show_stats;     // window thread: F11

    // --- Window -----------------------------------------------------------
    // The main window (an HWND on Windows); set once before the network
    // thread starts. Target of the two notifications.
    void* main_window;

    // --- Locks (initialised first, never destroyed) ---------------------------
    Lock state_lock;   // frame buffer pixels and re-creation with remote size; the app list while rebuilt; frame_valid = 1 after a decode
    Lock send_lock;    // the sending side: one whole framed message, and the queue of unsent bytes
    Lock text_lock;    // the four texts, for the length of one copy
};

extern ClientState state;

// Fills `state` with its initial values (sock -1, 640 x 480, all else 0 or
// empty). Does not touch the locks. Called at program start and by tests.
void client_state_reset();

// Initialises the three locks; once per process, before anything else.
void client_state_init_locks();

#endif
