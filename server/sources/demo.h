// The demo source: a menu with one entry of every kind, an animated picture
// that uses every block type and shows the client's input, and a melody.
#ifndef QV_SERVER_DEMO_H
#define QV_SERVER_DEMO_H

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "server/encode/canvas.h"
#include "server/protocol.h"

namespace qvs {

struct DemoEntry {
    uint16_t id;
    uint8_t kind;          // as in the menu: 0 program .. 4 game stream
    uint8_t pointer_mode;  // StreamState: 1 absolute pointer, 0 locked mouse
    const char* name;      // UTF-8
    const char* title;     // UTF-8, the window title while it runs
};

const std::vector<DemoEntry>& demo_entries();
const DemoEntry* find_demo_entry(uint16_t id);
std::vector<MenuItem> demo_menu();

// What the client has sent while an entry runs, for the picture to show.
struct InputView {
    std::u32string typed;              // last characters typed (at most TYPED_KEEP)
    std::string last_key;              // the last Key message, described
    uint32_t key_presses = 0;
    bool have_pointer = false;
    int pointer_x = 0, pointer_y = 0;  // last MousePos
    long motion_x = 0, motion_y = 0;   // sum of MouseDelta
    int last_dx = 0, last_dy = 0;
    uint8_t buttons = 0;               // bit 0 left, 1 right, 2 middle
    long wheel = 0;                    // sum of MouseWheel deltas
    bool have_pad = false;
    int16_t axes[6] = {};
    uint32_t pad_buttons = 0;
    uint16_t pov = 0xFFFF;
    std::string web_address;           // the address the page shows
    std::deque<std::string> web_history;  // last WebAddress messages received

    static constexpr size_t TYPED_KEEP = 40;
    static constexpr size_t WEB_KEEP = 4;

    // Applies one client input message (types 65..71, 73); returns 1 when
    // it was one of them and long enough.
    int apply(uint8_t type, const uint8_t* payload, uint32_t length);
};

// Draws the running entry at a moment of time.
class DemoScene {
public:
    DemoScene(const DemoEntry& entry, int width, int height);
    // seconds: time since the entry started; clock_text: "HH:MM:SS".
    void render(double seconds, const std::string& clock_text, const InputView& input, Canvas& out);

private:
    void draw_static(Canvas& c);
    void draw_band(Canvas& c, double seconds);
    void draw_stripes(Canvas& c, double seconds);
    void draw_plasma(Canvas& c, double seconds);
    void draw_balls(Canvas& c, double seconds);
    void draw_input(Canvas& c, double seconds, const InputView& input);
    void draw_pointer(Canvas& c, const InputView& input);

    DemoEntry entry_;
    int width_, height_;
    Canvas background_;
};

// A gentle pentatonic melody over a slow bass line, as 16-bit PCM.
class Melody {
public:
    Melody(int sample_rate, int channels);
    // Writes `frames` sample frames (channels interleaved) and moves on.
    void generate(int16_t* out, int frames);
    uint64_t position() const { return position_; }

private:
    int rate_, channels_;
    uint64_t position_ = 0;
};

}  // namespace qvs

#endif
