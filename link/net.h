// Non-portable TCP socket layer: Winsock 1.1 (WSOCK32) in link/net_win32.cpp,
// BSD sockets in link/net_posix.cpp. IPv4 only. A socket connects while it
// blocks; the network thread then switches it to non-blocking, so that no
// send can hang on a peer that stops reading (link/wire.cpp keeps what the
// socket does not take, and gives the link up when it stays stuck).
// Addresses are in network byte order, as inet_addr gives them.
#ifndef QV_LINK_NET_H
#define QV_LINK_NET_H

#include <cstdint>

#include "core/client_state.h"  // NetSocket, NET_NO_SOCKET

int net_startup();   // WSAStartup 1.1; returns 1 on success
void net_cleanup();  // WSACleanup

NetSocket net_tcp_socket();  // NET_NO_SOCKET on failure

// inet_addr: a dotted address, or 0xFFFFFFFF ("no address") for anything else.
uint32_t net_inet_addr(const char* text);
// Looks the name up; stores the first IPv4 address and returns 1, or 0.
int net_resolve(const char* name, uint32_t* address);

int net_connect(NetSocket s, uint32_t address, uint16_t port);  // 1 when connected
void net_set_nodelay(NetSocket s);                               // TCP_NODELAY on
void net_set_nonblocking(NetSocket s);  // FIONBIO / O_NONBLOCK on

// A call on a non-blocking socket that would have to wait.
enum { NET_WOULD_BLOCK = -2 };
// As send(): bytes taken (> 0), NET_WOULD_BLOCK, or -1 on failure.
int net_send(NetSocket s, const void* data, int length);
// As recv(): bytes (> 0), 0 when the peer closed, NET_WOULD_BLOCK, or -1.
int net_recv(NetSocket s, void* data, int length);
// Waits up to timeout_ms until s has data to read (or the peer closed), or,
// with for_write, until it can take more bytes. 1 ready, 0 timed out, -1
// failed (the socket was closed under the caller, for instance).
int net_wait(NetSocket s, int for_write, uint32_t timeout_ms);
// Closes the socket (its owner, when no call on it is in progress).
void net_close(NetSocket s);

// Ends the use of s from a thread that does not own it: a receive, send or
// connect blocked on s in the owning thread fails at once, and so does
// every later one. Winsock can only do that by closing, so there the
// handle is given back here too; with BSD sockets it is shut down and stays
// open, so that its number cannot be reused under the owner's feet, until
// the owner calls net_close_after_wake.
void net_wake(NetSocket s);
// The owner's part after another thread's net_wake: gives the handle back
// where net_wake did not.
void net_close_after_wake(NetSocket s);

#endif
