// Handling of the server's messages on the network thread.
#ifndef QV_LINK_MESSAGES_H
#define QV_LINK_MESSAGES_H

#include <cstdint>

// Applies one whole server message to the client state; payload is valid
// only during the call. length is 0..4 MiB.
void handle_message(uint8_t type, const uint8_t* payload, uint32_t length);

// Everything the network thread does with one VideoFrame body
// (link/video_frame.cpp).
void handle_video_frame(const uint8_t* payload, uint32_t length);

#endif
