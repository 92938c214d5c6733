// The demo: its menu, its picture and its sound.
#include "server/sources/demo.h"

#include <cmath>
#include <cstdio>

namespace qvs {

// ---------------------------------------------------------------- menu --

const std::vector<DemoEntry>& demo_entries() {
    static const std::vector<DemoEntry> entries = {
        {1, 0, 1, "Anteckningar", "Anteckningar - demo"},
        {2, 0, 0, "Rymdspelet (låst mus)", "Rymdspelet - demo"},
        {3, 1, 1, "Hela skärmen", "Hela skärmen - demo"},
        {4, 2, 1, "Fönster: Kalkylatorn", "Kalkylatorn - demo"},
        {5, 3, 1, "Webbläsaren", "Webbläsaren - demo"},
        {6, 4, 0, "Moonlight: Tunnelflykt", "Tunnelflykt via Moonlight - demo"},
    };
    return entries;
}

const DemoEntry* find_demo_entry(uint16_t id) {
    for (const DemoEntry& e : demo_entries())
        if (e.id == id) return &e;
    return nullptr;
}

std::vector<MenuItem> demo_menu() {
    std::vector<MenuItem> items;
    for (const DemoEntry& e : demo_entries()) items.push_back({e.id, e.kind, e.name});
    return items;
}

// --------------------------------------------------------------- input --

namespace {

std::string key_name(uint8_t vk) {
    char buf[16];
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) {
        buf[0] = char(vk);
        buf[1] = 0;
        return buf;
    }
    if (vk >= 0x70 && vk <= 0x7B) {
        std::snprintf(buf, sizeof buf, "F%d", vk - 0x70 + 1);
        return buf;
    }
    switch (vk) {
    case 0x08: return "Backsteg";
    case 0x09: return "Tab";
    case 0x0D: return "Enter";
    case 0x10: return "Skift";
    case 0x11: return "Ctrl";
    case 0x12: return "Alt";
    case 0x14: return "Caps Lock";
    case 0x1B: return "Esc";
    case 0x20: return "Mellanslag";
    case 0x25: return "Vänster";
    case 0x26: return "Upp";
    case 0x27: return "Höger";
    case 0x28: return "Ned";
    case 0x2D: return "Insert";
    case 0x2E: return "Delete";
    case 0x5B: return "Windows";
    }
    std::snprintf(buf, sizeof buf, "VK %02X", vk);
    return buf;
}

}  // namespace

int InputView::apply(uint8_t type, const uint8_t* p, uint32_t length) {
    switch (type) {
    case MSG_KEY: {
        if (length < 4) return 0;
        char buf[96];
        uint16_t scan = read_u16(p + 1);
        std::snprintf(buf, sizeof buf, " %s %02X/%03X", p[3] ? "ned" : "upp", p[0], scan & 0x1FF);
        last_key = key_name(p[0]) + buf;
        if (p[3]) key_presses++;
        return 1;
    }
    case MSG_CHAR: {
        if (length < 2) return 0;
        char32_t code = read_u16(p);
        if (code == 0) return 0;
        typed.push_back(code);
        if (typed.size() > TYPED_KEEP) typed.erase(0, typed.size() - TYPED_KEEP);
        return 1;
    }
    case MSG_MOUSE_DELTA: {
        if (length < 4) return 0;
        last_dx = int16_t(read_u16(p));
        last_dy = int16_t(read_u16(p + 2));
        motion_x += last_dx;
        motion_y += last_dy;
        return 1;
    }
    case MSG_MOUSE_POS:
        if (length < 4) return 0;
        have_pointer = true;
        pointer_x = read_u16(p);
        pointer_y = read_u16(p + 2);
        return 1;
    case MSG_MOUSE_BUTTON: {
        if (length < 2) return 0;
        if (p[0] < 1 || p[0] > 3) return 1;  // a button the picture has no place for
        uint8_t bit = uint8_t(1 << (p[0] - 1));
        buttons = p[1] ? uint8_t(buttons | bit) : uint8_t(buttons & ~bit);
        return 1;
    }
    case MSG_MOUSE_WHEEL:
        if (length < 2) return 0;
        wheel += int16_t(read_u16(p));
        return 1;
    case MSG_GAMEPAD:
        if (length < 18) return 0;
        have_pad = true;
        for (int i = 0; i < 6; i++) axes[i] = int16_t(read_u16(p + 2 * i));
        pad_buttons = read_u32(p + 12);
        pov = read_u16(p + 16);
        return 1;
    case MSG_WEB_ADDRESS: {
        if (length < 1) return 0;
        std::string text(reinterpret_cast<const char*>(p + 1), length - 1);
        web_address = utf8_cut(text, 509);
        web_history.push_back(web_address);
        while (web_history.size() > WEB_KEEP) web_history.pop_front();
        return 1;
    }
    }
    return 0;
}

// --------------------------------------------------------------- scene --

namespace {

struct Theme {
    uint16_t background, bar, bar_text, panel, text, dim, accent;
};

Theme theme_for(uint8_t kind) {
    switch (kind) {
    case 1: return {rgb555(16, 56, 64), rgb555(24, 120, 136), rgb555(255, 255, 255), rgb555(8, 36, 44),
                    rgb555(224, 248, 248), rgb555(120, 176, 184), rgb555(255, 208, 64)};
    case 2: return {rgb555(56, 56, 72), rgb555(0, 0, 168), rgb555(255, 255, 255), rgb555(192, 192, 192),
                    rgb555(0, 0, 0), rgb555(96, 96, 96), rgb555(200, 0, 0)};
    case 3: return {rgb555(232, 232, 240), rgb555(64, 96, 200), rgb555(255, 255, 255), rgb555(255, 255, 255),
                    rgb555(16, 16, 40), rgb555(112, 112, 136), rgb555(0, 120, 64)};
    case 4: return {rgb555(8, 8, 16), rgb555(40, 16, 72), rgb555(240, 200, 255), rgb555(24, 16, 40),
                    rgb555(232, 224, 255), rgb555(136, 112, 168), rgb555(120, 255, 120)};
    default: return {rgb555(16, 24, 56), rgb555(170, 40, 20), rgb555(255, 255, 255), rgb555(24, 36, 80),
                     rgb555(240, 240, 255), rgb555(136, 144, 184), rgb555(255, 200, 120)};
    }
}

// A smooth rainbow in 5-bit channels.
uint16_t hue5(double u, double brightness) {
    int r = int(15.5 + 15.0 * std::sin(u) * brightness);
    int g = int(15.5 + 15.0 * std::sin(u + 2.094) * brightness);
    int b = int(15.5 + 15.0 * std::sin(u + 4.189) * brightness);
    return uint16_t((r << 10) | (g << 5) | b);
}

uint16_t mix555(uint16_t a, uint16_t b, int wa, int wb) {
    int r = (wa * ((a >> 10) & 31) + wb * ((b >> 10) & 31) + 1) / 3;
    int g = (wa * ((a >> 5) & 31) + wb * ((b >> 5) & 31) + 1) / 3;
    int bl = (wa * (a & 31) + wb * (b & 31) + 1) / 3;
    return uint16_t((r << 10) | (g << 5) | bl);
}

const int BAR_H = 24;
const int BAND_Y = 32, BAND_H = 32;

}  // namespace

DemoScene::DemoScene(const DemoEntry& entry, int width, int height)
    : entry_(entry), width_(width), height_(height) {
    background_.resize(width, height);
    draw_static(background_);
}

void DemoScene::draw_static(Canvas& c) {
    Theme t = theme_for(entry_.kind);
    c.fill_rect(0, 0, c.width, c.height, t.background);
    c.fill_rect(0, 0, c.width, BAR_H, t.bar);
    c.draw_text(8, 5, entry_.name, t.bar_text, 2);
    // The right half: the input panel.
    int px = c.width / 2;
    c.fill_rect(px, 72, c.width - px - 8, c.height - 72 - 28, t.panel);
    c.frame_rect(px, 72, c.width - px - 8, c.height - 72 - 28, t.dim);
    if (entry_.kind == 1) {
        // The whole screen: a task bar along the bottom.
        c.fill_rect(0, c.height - 24, c.width, 24, rgb555(192, 192, 192));
        c.fill_rect(0, c.height - 24, c.width, 1, rgb555(255, 255, 255));
        c.fill_rect(2, c.height - 21, 66, 18, rgb555(160, 160, 160));
        c.frame_rect(2, c.height - 21, 66, 18, rgb555(64, 64, 64));
        c.draw_text(8, c.height - 18, "Start", rgb555(0, 0, 0), 2);
        c.draw_text(80, c.height - 15, "F9 = menyn   F8 = pekare/låst mus", rgb555(48, 48, 48), 1);
    } else {
        c.draw_text(8, c.height - 18, "F9 = tillbaka till menyn   F8 = pekare/låst mus", t.dim, 1);
    }
    if (entry_.kind == 2) {
        // A single window: a frame around the whole picture, with buttons.
        c.frame_rect(0, 0, c.width, c.height, rgb555(192, 192, 192));
        c.frame_rect(1, 1, c.width - 2, c.height - 2, rgb555(192, 192, 192));
        for (int b = 0; b < 3; b++) {
            int bx = c.width - 22 - b * 20;
            c.fill_rect(bx, 4, 16, 16, rgb555(192, 192, 192));
            c.frame_rect(bx, 4, 16, 16, rgb555(64, 64, 64));
        }
        c.draw_text(c.width - 19, 6, "x", rgb555(0, 0, 0), 2);
        c.fill_rect(c.width - 59, 15, 10, 2, rgb555(0, 0, 0));
        c.frame_rect(c.width - 40, 8, 10, 8, rgb555(0, 0, 0));
    }
    if (entry_.kind == 3) c.draw_text(px + 8, 80, "Adress (F6 ändrar):", t.dim, 2);
    else c.draw_text(px + 8, 80, "Servern tar emot:", t.dim, 2);
}

void DemoScene::draw_band(Canvas& c, double seconds) {
    // A rainbow made for BLOCK_QUAD: every 4 x 4 quadrant holds two end
    // colours and the two colours the client mixes between them, so the
    // band is exact in the smallest form that has more than four colours.
    // It scrolls by whole quadrants to keep that alignment.
    int shift = int(seconds * 10.0);
    for (int row = 0; row < BAND_H / 4; row++) {
        double brightness = 1.0 - 0.11 * row;
        for (int qx = 0; qx * 4 < c.width; qx++) {
            double u = (qx + shift) * 0.09;
            uint16_t a = hue5(u, brightness), b = hue5(u + 0.09, brightness);
            uint16_t cols[4] = {a, mix555(a, b, 2, 1), mix555(a, b, 1, 2), b};
            for (int k = 0; k < 4; k++) c.fill_rect(qx * 4 + k, BAND_Y + row * 4, 1, 4, cols[k]);
        }
    }
}

void DemoScene::draw_stripes(Canvas& c, double seconds) {
    // Three-coloured diagonal stripes: at most four colours per block.
    Theme t = theme_for(entry_.kind);
    const uint16_t cols[3] = {rgb555(230, 80, 40), rgb555(250, 200, 60), t.accent};
    int offset = int(seconds * 24.0);
    int y0 = 128, h = 24, w = c.width / 2 - 16;
    for (int y = y0; y < y0 + h && y < c.height; y++)
        for (int x = 8; x < 8 + w && x < c.width; x++)
            c.pixels[size_t(y) * size_t(c.width) + size_t(x)] = cols[((x + y + offset) / 3) % 3];
}

void DemoScene::draw_plasma(Canvas& c, double seconds) {
    // Many colours in every block: BLOCK_RAW (or an approximate BLOCK_QUAD
    // in lossy mode).
    int x0 = 8, y0 = 160, w = 128, h = 64;
    for (int y = 0; y < h && y0 + y < c.height; y++) {
        for (int x = 0; x < w && x0 + x < c.width; x++) {
            double v = std::sin(x * 0.09 + seconds * 1.7) + std::sin(y * 0.13 - seconds * 1.3) +
                       std::sin((x + y) * 0.06 + seconds * 0.9);
            c.pixels[size_t(y0 + y) * size_t(c.width) + size_t(x0 + x)] = hue5(v * 1.2 + seconds * 0.5, 1.0);
        }
    }
}

void DemoScene::draw_balls(Canvas& c, double seconds) {
    // Discs bouncing in the free area below the plasma and beside it.
    int left = 144, top = 160, right = c.width / 2 - 8, bottom = c.height - 28;
    if (right - left < 40 || bottom - top < 40) {
        left = 8;
        top = 230;
        right = c.width / 2 - 8;
    }
    const uint16_t colors[3] = {rgb555(255, 96, 64), rgb555(96, 224, 120), rgb555(96, 160, 255)};
    const int radius[3] = {14, 10, 18};
    const double speed[3][2] = {{97, 71}, {-83, 113}, {61, -57}};
    for (int i = 0; i < 3; i++) {
        int span_x = right - left - 2 * radius[i], span_y = bottom - top - 2 * radius[i];
        if (span_x <= 0 || span_y <= 0) continue;
        auto bounce = [](double p, int span) {
            double m = std::fmod(std::fabs(p), 2.0 * span);
            return int(m < span ? m : 2.0 * span - m);
        };
        int x = left + radius[i] + bounce(37 * i + seconds * speed[i][0], span_x);
        int y = top + radius[i] + bounce(53 * i + seconds * speed[i][1], span_y);
        c.fill_disc(x, y, radius[i], colors[i]);
    }
}

void DemoScene::draw_input(Canvas& c, double seconds, const InputView& in) {
    Theme t = theme_for(entry_.kind);
    int x = c.width / 2 + 8, y = 104;
    const int line = 20;
    char buf[160];
    if (entry_.kind == 3) {
        std::string address = in.web_address;
        // Up to three lines of 24 characters.
        std::u32string codes = utf8_decode(address);
        for (int i = 0; i < 3 && size_t(i) * 24 < codes.size(); i++) {
            c.draw_codes(x, y, codes.substr(size_t(i) * 24, 24), t.accent, 2);
            y += line;
        }
        if (codes.empty()) y += line;
        y += 4;
        c.draw_text(x, y, "Mottagna adresser:", t.dim, 2);
        y += line;
        for (const std::string& a : in.web_history) {
            c.draw_codes(x, y, utf8_decode(a).substr(0, 48), t.text, 1);
            y += 10;
        }
        y += line - 10;
    }
    c.draw_text(x, y, "Tangent:", t.dim, 2);
    c.draw_text(x + 9 * 12, y, in.last_key.empty() ? "-" : in.last_key, t.text, 2);
    y += line;
    // The typed characters, the last 24 on screen, with a blinking cursor.
    c.draw_text(x, y, "Text:", t.dim, 2);
    std::u32string shown = in.typed.size() > 19 ? in.typed.substr(in.typed.size() - 19) : in.typed;
    int end = c.draw_codes(x + 6 * 12, y, shown, t.accent, 2);
    if (int(seconds * 2) % 2 == 0) c.fill_rect(end, y + 14, 10, 2, t.accent);
    y += line;
    if (entry_.pointer_mode) {
        if (in.have_pointer) std::snprintf(buf, sizeof buf, "%d, %d", in.pointer_x, in.pointer_y);
        else std::snprintf(buf, sizeof buf, "-");
        c.draw_text(x, y, "Pekare:", t.dim, 2);
        c.draw_text(x + 8 * 12, y, buf, t.text, 2);
    } else {
        c.draw_text(x, y, "Rörelse:", t.dim, 2);
        // The last step, then the sum of all steps.
        std::snprintf(buf, sizeof buf, "%+d%+d", in.last_dx, in.last_dy);
        int after = c.draw_text(x + 9 * 12, y, buf, t.text, 2);
        std::snprintf(buf, sizeof buf, "summa %ld, %ld", in.motion_x, in.motion_y);
        c.draw_text(after + 8, y + 4, buf, t.text, 1);
    }
    y += line;
    c.draw_text(x, y, "Knappar:", t.dim, 2);
    const char* names[3] = {"V", "H", "M"};
    for (int b = 0; b < 3; b++) {
        int bx = x + 9 * 12 + b * 26;
        bool down = (in.buttons >> b) & 1;
        c.fill_rect(bx, y - 2, 22, 18, down ? t.accent : t.panel);
        c.frame_rect(bx, y - 2, 22, 18, t.dim);
        c.draw_text(bx + 6, y, names[b], down ? t.panel : t.text, 2);
    }
    y += line;
    std::snprintf(buf, sizeof buf, "%+ld (%ld steg)", in.wheel, in.wheel / 120);
    c.draw_text(x, y, "Hjul:", t.dim, 2);
    c.draw_text(x + 8 * 12, y, buf, t.text, 2);
    y += line;
    c.draw_text(x, y, "Joystick:", t.dim, 2);
    if (!in.have_pad) {
        c.draw_text(x + 10 * 12, y, "-", t.text, 2);
        y += line;
    } else {
        std::snprintf(buf, sizeof buf, "X %d  Y %d  Z %d", in.axes[0], in.axes[1], in.axes[2]);
        c.draw_text(x, y + 18, buf, t.text, 1);
        std::snprintf(buf, sizeof buf, "knappar %04X  hatt %u", unsigned(in.pad_buttons), unsigned(in.pov));
        c.draw_text(x, y + 28, buf, t.text, 1);
        // The stick as a dot in a square.
        int sx = x + 11 * 12, sy = y - 2, size = 16;
        c.frame_rect(sx, sy, size, size, t.dim);
        c.fill_rect(sx + 6 + in.axes[0] * 6 / 32768, sy + 6 + in.axes[1] * 6 / 32768, 4, 4, t.accent);
        y += line + 20;
    }
    (void)y;
}

void DemoScene::draw_pointer(Canvas& c, const InputView& in) {
    Theme t = theme_for(entry_.kind);
    int x, y;
    if (entry_.pointer_mode) {
        if (!in.have_pointer) return;
        x = in.pointer_x;
        y = in.pointer_y;
    } else {
        // Locked mouse: a marker that the relative motion steers around the
        // picture, wrapping at the edges.
        long w = c.width, h = c.height;
        x = int(((c.width / 2 + in.motion_x) % w + w) % w);
        y = int(((c.height / 2 + in.motion_y) % h + h) % h);
    }
    uint16_t color = in.buttons ? t.accent : rgb555(255, 255, 255);
    c.fill_rect(x - 8, y, 17, 1, color);
    c.fill_rect(x, y - 8, 1, 17, color);
    c.frame_rect(x - 3, y - 3, 7, 7, color);
}

void DemoScene::render(double seconds, const std::string& clock_text, const InputView& input, Canvas& out) {
    if (out.width != width_ || out.height != height_) out.resize(width_, height_);
    out.pixels = background_.pixels;
    Theme t = theme_for(entry_.kind);
    int clock_x = out.width - text_width(clock_text, 2) - (entry_.kind == 2 ? 72 : 8);
    out.draw_text(clock_x, 5, clock_text, t.bar_text, 2);
    draw_band(out, seconds);
    // The big clock and a bar that fills once a minute.
    out.draw_text(8, 76, clock_text, t.accent, 4);
    int second = 0;
    if (clock_text.size() >= 8) second = (clock_text[6] - '0') * 10 + (clock_text[7] - '0');
    int bar_w = out.width / 2 - 16;
    out.fill_rect(8, 112, bar_w, 8, t.panel);
    out.fill_rect(8, 112, bar_w * (second + 1) / 60, 8, t.accent);
    draw_stripes(out, seconds);
    draw_plasma(out, seconds);
    draw_balls(out, seconds);
    draw_input(out, seconds, input);
    draw_pointer(out, input);
}

// -------------------------------------------------------------- melody --

Melody::Melody(int sample_rate, int channels) : rate_(sample_rate), channels_(channels) {}

void Melody::generate(int16_t* out, int frames) {
    // Eighth notes of a major pentatonic tune at 120 beats a minute over a
    // bass that changes every two seconds; each note a soft sine with a
    // little second harmonic and a gentle decay.
    static const double tune[16] = {523.25, 659.25, 783.99, 880.00, 783.99, 659.25, 587.33, 659.25,
                                    523.25, 440.00, 392.00, 440.00, 523.25, 587.33, 659.25, 783.99};
    static const double bass[4] = {130.81, 110.00, 87.31, 98.00};
    const double two_pi = 6.283185307179586;
    for (int i = 0; i < frames; i++) {
        double t = double(position_ + uint64_t(i)) / rate_;
        double step_len = 0.25;
        long step = long(t / step_len);
        double in_step = t - step * step_len;
        double f = tune[step % 16];
        double env = (in_step < 0.005 ? in_step / 0.005 : 1.0) * std::exp(-in_step / 0.18);
        double melody = env * (std::sin(two_pi * f * in_step) + 0.25 * std::sin(2 * two_pi * f * in_step));
        long bar = long(t / 2.0);
        double in_bar = t - bar * 2.0;
        double fb = bass[bar % 4];
        double benv = (in_bar < 0.02 ? in_bar / 0.02 : 1.0) * (0.55 + 0.45 * std::exp(-in_bar / 0.6));
        double low = benv * std::sin(two_pi * fb * in_bar);
        double pan = (step % 2) ? 0.35 : 0.65;
        double left = 0.17 * melody * (1.0 - pan) * 2 + 0.11 * low;
        double right = 0.17 * melody * pan * 2 + 0.11 * low;
        if (channels_ >= 2) {
            out[i * channels_] = int16_t(left * 32767);
            out[i * channels_ + 1] = int16_t(right * 32767);
            for (int ch = 2; ch < channels_; ch++) out[i * channels_ + ch] = 0;
        } else {
            out[i] = int16_t((left + right) * 0.5 * 32767);
        }
    }
    position_ += uint64_t(frames);
}

}  // namespace qvs
