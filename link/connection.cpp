// The network thread: connect to host:port, greet with the Hello, read
// framed messages and hand each to handle_message, and when the link
// cannot be made or is lost, say so on the status line and try again.
//
//   top of a pass:  quit? -> end.  host empty? -> wait 200 ms.
//   connecting:     "Ansluter till ..."; socket, address, connect
//                   failure -> "Kunde inte ansluta ..." and 2000 ms
//   linked:         TCP_NODELAY, resets, Hello, receive loop
//   lost:           resets, "Anslutningen ... igen ..." and 1000 ms
#include "link/connection.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "core/client_state.h"
#include "core/client_text.h"
#include "core/notify.h"
#include "link/messages.h"
#include "link/net.h"
#include "link/wire.h"
#include "settings/settings.h"

// The receive buffer of the network thread: never shrinks, never freed.
// Plain words: only the network thread touches them.
static uint8_t* recv_buffer;
static uint32_t recv_capacity;

uint32_t receive_buffer_capacity() { return recv_capacity; }

// Counts close_link_socket calls in progress, so that the network thread
// never gives a handle back while another thread is still waking it.
static std::atomic<int32_t> wakes_in_progress;

void close_link_socket() {
    wakes_in_progress.fetch_add(1);
    NetSocket s = state.sock.exchange(NET_NO_SOCKET);
    if (s != NET_NO_SOCKET) net_wake(s);
    wakes_in_progress.fetch_sub(1);
}

// The network thread's end of its own socket, in three steps:
//  1. Every call on it is made to fail: by this thread's own wake when it
//     takes the handle out of state.sock, else by the close_link_socket
//     that took it first (waited for: it counted itself in before its
//     exchange, and its wake is one system call).
//  2. send_lock is passed once. A sender loads state.sock under that lock,
//     so after it no send on the old handle is still in progress, and none
//     can start: state.sock is -1.
//  3. Only then is the handle given back, so its number cannot be reused
//     by the next connection while another thread still uses it.
static void release_own_socket(NetSocket own) {
    if (own == NET_NO_SOCKET) return;
    if (state.sock.exchange(NET_NO_SOCKET) == own) {
        net_wake(own);
    } else {
        while (wakes_in_progress.load() != 0) sleep_ms(1);
    }
    lock_enter(&state.send_lock);
    lock_leave(&state.send_lock);
    net_close_after_wake(own);
}

// Sleeps ms milliseconds in short steps, so that quit is seen promptly.
static void pause_unless_quit(uint32_t ms) {
    const uint32_t step = 50;
    uint32_t slept = 0;
    while (slept < ms && state.quit.load() == 0) {
        uint32_t now = ms - slept < step ? ms - slept : step;
        sleep_ms(now);
        slept += now;
    }
}

static void set_status(const char* format, const char* host, int32_t port) {
    char text[STATUS_TEXT_SIZE];
    format_text(text, sizeof text, format, host, static_cast<int>(port));
    text_store(state.status_text, STATUS_TEXT_SIZE, text);
    notify_state_changed();
}

int receive_one_message() {
    uint8_t header[WIRE_HEADER_SIZE];
    if (!recv_exact(header, WIRE_HEADER_SIZE)) return 0;
    uint32_t length = get_u32le(header);
    uint8_t type = header[4];
    if (length > WIRE_MAX_PAYLOAD) return 0;
    if (length + 1 > recv_capacity) {
        // The old contents are not kept, so free first: the peak stays one buffer.
        std::free(recv_buffer);
        recv_capacity = 0;
        recv_buffer = static_cast<uint8_t*>(std::malloc(length + 65536u));
        // No memory for this payload: the link ends like a failed receive,
        // and the next connection tries again.
        if (recv_buffer == nullptr) return 0;
        recv_capacity = length + 65536u;
    }
    if (length != 0 && !recv_exact(recv_buffer, length)) return 0;
    state.byte_count.fetch_add(length + WIRE_HEADER_SIZE);
    handle_message(type, recv_buffer, length);
    return 1;
}

// One connection attempt and, when it succeeds, the life of the link.
// Returns 1 when a link was made (and has ended), 0 when the attempt failed.
static int connect_and_serve(const Settings* s) {
    NetSocket sock = net_tcp_socket();
    state.sock.store(sock);
    int ok = sock != NET_NO_SOCKET;

    uint32_t address = 0;
    if (ok) {
        // A dotted address needs no look-up; a name is looked up on every
        // attempt. A name that does not resolve fails the attempt here
        // instead of connecting to the all-ones address.
        address = net_inet_addr(s->host);
        if (address == 0xFFFFFFFFu) ok = net_resolve(s->host, &address);
    }
    if (ok) ok = net_connect(sock, address, static_cast<uint16_t>(s->port));
    if (!ok) {
        release_own_socket(sock);
        set_status("Kunde inte ansluta till %s:%d. F\xF6rs\xF6ker igen ... (F10 = inst\xE4llningar)",
                   s->host, s->port);
        return 0;
    }

    net_set_nodelay(sock);
    // From here on no call on the socket waits: sends queue what does not
    // fit, receives wait in short steps (link/wire.cpp).
    net_set_nonblocking(sock);

    // connected = 1 and the Hello go out under one hold of send_lock, so a
    // message of the window thread (a Ping, input) that sees connected = 1
    // waits for the lock and always follows the Hello on the socket; what
    // the last link left unsent is thrown away first.
    uint8_t hello[HELLO_SIZE];
    build_hello(s, hello);
    lock_enter(&state.send_lock);
    discard_unsent_locked();
    state.connected.store(1);
    state.reconnect.store(0);
    send_message_locked(MSG_HELLO, hello, HELLO_SIZE);
    lock_leave(&state.send_lock);
    // The texts are emptied after the lock is left: text_lock is never held
    // together with another lock. Nothing is received before this point, so
    // no message of the new link can be overwritten here.
    text_store(state.status_text, STATUS_TEXT_SIZE, "");
    text_store(state.pin_text, PIN_TEXT_SIZE, "");
    state.stream_mode.store(0);
    notify_state_changed();

    while (state.connected.load() != 0 && state.quit.load() == 0 &&
           state.reconnect.load() == 0) {
        if (!receive_one_message()) break;
    }

    state.connected.store(0);
    release_own_socket(sock);
    state.stream_mode.store(0);
    state.app_count.store(0);
    return 1;
}

unsigned long network_thread(void* unused) {
    (void)unused;
    while (state.quit.load() == 0) {
        Settings s;
        settings_snapshot(&s);
        if (s.host[0] == 0) {
            pause_unless_quit(200);
            continue;
        }
        set_status("Ansluter till %s:%d ...", s.host, s.port);
        if (!connect_and_serve(&s)) {
            pause_unless_quit(2000);
            continue;
        }
        if (state.quit.load() != 0) break;
        text_store(state.status_text, STATUS_TEXT_SIZE, "Anslutningen br\xF6ts. Ansluter igen ...");
        notify_state_changed();
        pause_unless_quit(1000);
    }
    return 0;
}
