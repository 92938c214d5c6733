// What the client's screen shows, worked out without any drawing API: the
// title screen and the statistics line become a list of fills and texts
// with their positions, colours and fonts, which ui/paint_win32.cpp carries
// out with GDI and native tests read back. Window thread only.
#ifndef QV_UI_TITLE_SCREEN_H
#define QV_UI_TITLE_SCREEN_H

#include <cstdint>

// Colours in the platform's 0x00BBGGRR order (a Win32 COLORREF).
constexpr uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }

const uint32_t COLOUR_BACKGROUND = rgb(12, 10, 24);
const uint32_t COLOUR_TITLE_SHADOW = rgb(120, 20, 10);
const uint32_t COLOUR_TITLE = rgb(255, 90, 40);
const uint32_t COLOUR_TAG_LINE = rgb(150, 150, 190);
const uint32_t COLOUR_BAND = rgb(170, 40, 20);
const uint32_t COLOUR_ENTRY_NAME = rgb(255, 255, 255);
const uint32_t COLOUR_LABEL_SELECTED = rgb(255, 220, 200);
const uint32_t COLOUR_LABEL = rgb(120, 120, 150);
const uint32_t COLOUR_WAITING = rgb(200, 200, 200);
const uint32_t COLOUR_PIN_PROMPT = rgb(255, 220, 120);
const uint32_t COLOUR_PIN = rgb(255, 255, 0);
const uint32_t COLOUR_STATUS = rgb(255, 200, 120);
const uint32_t COLOUR_HELP = rgb(110, 110, 140);
const uint32_t COLOUR_STATS_BOX = rgb(0, 0, 0);
const uint32_t COLOUR_STATS_TEXT = rgb(0, 255, 0);

// The fonts a text is drawn in. FONT_DEFAULT is whatever the device
// context holds by itself (the statistics line uses it).
enum DrawFont {
    FONT_DEFAULT = 0,
    FONT_TITLE = 1,  // Arial 44, bold, italic
    FONT_TEXT = 2,   // Arial 18, normal
    FONT_PIN = 3,    // Courier New 36, bold
};

enum DrawKind {
    DRAW_FILL = 0,  // a solid rectangle, right and bottom edges exclusive
    DRAW_TEXT = 1,  // a text with its top-left corner at (x, y)
};

enum {
    DRAW_TEXT_SIZE = 256,
    // Background, title twice, tag line, three per menu row, waiting text,
    // PIN prompt and PIN, status, help, statistics box and text.
    DRAW_LIST_CAPACITY = 12 + 3 * 64,
};

struct DrawOp {
    uint8_t kind;    // DrawKind
    uint8_t font;    // DrawFont, for texts
    int32_t x, y;    // fill: left, top; text: top-left corner
    int32_t right, bottom;  // fill only
    uint32_t colour;
    char text[DRAW_TEXT_SIZE];  // Windows-1252, NUL-terminated
};

struct DrawList {
    int count;
    DrawOp ops[DRAW_LIST_CAPACITY];
};

// The texts of the title screen, in the client's code page.
extern const char TITLE_TEXT[];
extern const char TAG_LINE_TEXT[];
extern const char WAITING_TEXT[];
extern const char PIN_PROMPT_TEXT[];
extern const char HELP_TEXT[];

// The menu label of an application kind; unknown kinds are programs.
const char* kind_label(int kind);

// Empties the list.
void draw_list_clear(DrawList* list);

// 1 when the remote picture is shown instead of the title screen: an
// application streams, a frame has decoded, and a frame buffer exists.
// The caller holds state_lock (the frame buffer may be re-created).
int picture_shown();

// Appends the title screen for a client area of width x height: the
// background, title and shadow, tag line, the menu or the waiting text,
// the PIN prompt, the status line and the help line, in drawing order.
// Reads the application list under state_lock and the texts under
// text_lock.
void build_title_screen(DrawList* list, int32_t width, int32_t height);

// The statistics line's text, e.g. " 30 bilder/s  412 kB/s  ping 12 ms
// 640x480 l\xE5st mus".
void format_stats_line(char* out, int capacity, uint32_t fps, uint32_t kbps, uint32_t ping,
                       int32_t width, int32_t height, int32_t pointer_mode);

// Appends the statistics line (its black box and green text) from the
// current statistics, when show_stats is on; nothing otherwise.
void build_stats_line(DrawList* list);

#endif
