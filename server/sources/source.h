// server/sources/ owns the Source below and its kinds: X capture and input, the demo, sound recording, the gamepad.
//
// What one stream shows, plays and is driven by: a program in a private X
// server, an existing X display or one of its windows, the browser, or the
// demo. The connection asks its source for pictures at the client's size,
// hands it the client's input, and takes its sound and texts.
#ifndef QV_SERVER_SOURCE_H
#define QV_SERVER_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qvs {

// What a stream is sent as, from the client's Hello.
struct StreamFormat {
    int width = 640, height = 480;
    int fps = 30;      // frames per second the client asked for
    int rate = 0;      // sound sample rate; 0: no sound
    int channels = 2;
};

class Source {
public:
    virtual ~Source() = default;

    // The picture as it is now, at the client's size: width x height RGB555
    // pixels, rows `width` apart, into `out` (resized as needed). Returns
    // false when it has not changed since the last call that returned true;
    // `out` then holds that picture still. `force`: fill `out` in any case
    // (the first frame, a size change) and return true.
    virtual bool grab(std::vector<uint16_t>& out, int width, int height, bool force) = 0;

    // A file descriptor that turns readable when the picture may have
    // changed (an X connection with damage events), or -1: the connection
    // then calls grab at the frame rate. After it fired, the connection calls
    // drain_wake before the next grab.
    virtual int wake_fd() { return -1; }
    virtual void drain_wake() {}

    // One input message of the client (MSG_KEY .. MSG_GAMEPAD,
    // MSG_WEB_ADDRESS) with its payload, as it came off the wire: the
    // length is not checked yet.
    virtual void input(uint8_t type, const uint8_t* payload, uint32_t length) = 0;

    // Releases every key and mouse button the client still holds, so that
    // nothing stays stuck when the stream ends, the client goes to the menu
    // or the link is lost.
    virtual void release_input() {}

    // Sound in the stream's format (set by the connection from the Hello):
    // up to max_frames sample frames of 16-bit PCM, channels interleaved.
    // Returns the frames written; 0 when there is none now.
    virtual size_t read_audio(int16_t* out, size_t max_frames) {
        (void)out;
        (void)max_frames;
        return 0;
    }

    // A text for the client's screen that arose since the last call
    // (ServerText slot: 1 web address, 3 title, else the status line).
    // Returns false when there is none.
    virtual bool next_text(uint8_t* slot, std::string* text) {
        (void)slot;
        (void)text;
        return false;
    }

    // Empty while the source lives; once it has ended (the program exited,
    // the window closed, the display went away), a Swedish status text for
    // the client that says so.
    virtual std::string ended() { return std::string(); }

    // False while the source is still getting ready (pairing with a game
    // stream host, which waits for a person): the connection then passes
    // only its texts on and watches ended(), and calls nothing else.
    virtual bool ready() { return true; }

    // StreamState pointer mode: 1 absolute pointer, 0 locked relative mouse.
    virtual uint8_t pointer_mode() const { return 1; }
};

}  // namespace qvs

#endif
