// Turns our client's input messages (Key, Char, MousePos, MouseDelta,
// MouseButton, MouseWheel, Gamepad) into GameStream input packets, and
// remembers what is held so that it can all be let go.
//
// Keys travel as the Windows virtual keys the client's layout made, marked
// "as is", so that a host with the same layout types what the person typed
// (Swedish Å is its own key, AltGr is left Ctrl with right Alt). A Char is
// sent as text only when no key is held that made it: the host makes the
// characters of keys from its own layout, and sending both would type twice.
#ifndef QV_SERVER_MOONLIGHT_INPUT_TRANSLATOR_H
#define QV_SERVER_MOONLIGHT_INPUT_TRANSLATOR_H

#include <cstdint>
#include <set>
#include <vector>

#include "server/moonlight/input_packet.h"

namespace qvs {

class InputTranslator {
public:
    // key_flags: KEY_AS_IS for a Sunshine host; GFE wants 0.
    InputTranslator(int stream_width, int stream_height, uint8_t key_flags)
        : stream_w_(stream_width), stream_h_(stream_height), key_flags_(key_flags) {}

    // The client's picture size, in which MousePos arrives.
    void set_client_size(int width, int height) {
        client_w_ = width;
        client_h_ = height;
    }
    // The packets for one message; none for a short or unknown one.
    std::vector<InputPacket> translate(uint8_t type, const uint8_t* payload, uint32_t length);
    // Releases of every key and button held, and a pad at rest.
    std::vector<InputPacket> release_all();

private:
    uint8_t modifiers() const;
    void key(uint8_t vk, uint16_t scan, bool down, std::vector<InputPacket>& out);
    void gamepad(const uint8_t* p, std::vector<InputPacket>& out);

    int stream_w_, stream_h_;
    uint8_t key_flags_;
    int client_w_ = 0, client_h_ = 0;
    std::set<uint8_t> keys_;      // virtual keys held, as sent
    std::set<uint8_t> buttons_;   // mouse buttons held, as sent
    PadState pad_;
    bool pad_used_ = false;
};

}  // namespace qvs

#endif
