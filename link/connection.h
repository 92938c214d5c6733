// The network thread: connect, greet, receive, hand over, reconnect.
#ifndef QV_LINK_CONNECTION_H
#define QV_LINK_CONNECTION_H

#include <cstdint>

// The thread routine (started by start-up with thread_start). Runs until
// state.quit; returns 0.
unsigned long network_thread(void* unused);

// Ends the link from the window thread (F10 accepted, shutdown): takes the
// socket out of state.sock, if there is one, and makes the network thread's
// blocked receive (or connect) fail at once; the link then ends and the
// network thread gives the handle back (net_wake, net_close_after_wake).
// The exchange makes a second call, from either thread, do nothing.
void close_link_socket();

// Reads and handles one framed message from state.sock (the receive loop's
// body). Returns 1 to go on, 0 when the link must end. Network thread only.
int receive_one_message();

// The receive buffer's capacity in bytes (0 before the first message). It
// grows to L + 65536 when a payload of L bytes needs more than capacity - 1
// and never shrinks. For tests and diagnostics.
uint32_t receive_buffer_capacity();

#endif
