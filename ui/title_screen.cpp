// The title screen and the statistics line as a list of drawing steps.
//
// Layout of the title screen (client pixels, W x H the client area):
//   (34,26)/(30,22) "Quorvane!" shadow, then title    Arial 44 bold italic
//   (34,72)         tag line                          Arial 18
//   (40,120+26i)    menu row i, label at (W-140, ...), band (26,y-2)-(W-26,y+22)
//   (40,120)        waiting text, when linked and the list is empty
//   (40,H-150)      PIN prompt, (40,H-125) the PIN in Courier New 36 bold
//   (40,H-64)       status line
//   (40,H-38)       help line
#include "ui/title_screen.h"

#include "core/client_state.h"
#include "core/client_text.h"
#include "media/frame_buffer.h"

const char TITLE_TEXT[] = "Quorvane!";
const char TAG_LINE_TEXT[] = "str\xF6mma moderna program till din retrodator";
const char WAITING_TEXT[] = "V\xE4ntar p\xE5 applistan ...";
const char PIN_PROMPT_TEXT[] =
    "Skriv in den h\xE4r PIN-koden i Sunshine/Apollo (webbgr\xE4nssnittet, fliken PIN):";
const char HELP_TEXT[] =
    "Pil upp/ned + Enter startar.  F8 mus  F9 meny  F10 inst\xE4llningar  F11 info  F12 avsluta";

const char* kind_label(int kind) {
    switch (kind) {
        case APP_KIND_WEB: return "[webb]";
        case APP_KIND_MOONLIGHT: return "[moonlight]";
        case APP_KIND_SCREEN: return "[sk\xE4rm]";
        case APP_KIND_WINDOW: return "[f\xF6nster]";
        default: return "[program]";
    }
}

void draw_list_clear(DrawList* list) { list->count = 0; }

static DrawOp* next_op(DrawList* list) {
    if (list->count >= DRAW_LIST_CAPACITY) return nullptr;
    return &list->ops[list->count++];
}

static void copy_text(char* destination, const char* text, int limit) {
    int i = 0;
    while (i < DRAW_TEXT_SIZE - 1 && i < limit && text[i] != 0) {
        destination[i] = text[i];
        i++;
    }
    destination[i] = 0;
}

static void add_fill(DrawList* list, int32_t left, int32_t top, int32_t right, int32_t bottom,
                     uint32_t colour) {
    DrawOp* op = next_op(list);
    if (op == nullptr) return;
    op->kind = DRAW_FILL;
    op->font = FONT_DEFAULT;
    op->x = left;
    op->y = top;
    op->right = right;
    op->bottom = bottom;
    op->colour = colour;
    op->text[0] = 0;
}

// `limit` bounds the characters taken from text (a fixed-size name).
static void add_text(DrawList* list, int32_t x, int32_t y, uint32_t colour, DrawFont font,
                     const char* text, int limit = DRAW_TEXT_SIZE - 1) {
    DrawOp* op = next_op(list);
    if (op == nullptr) return;
    op->kind = DRAW_TEXT;
    op->font = static_cast<uint8_t>(font);
    op->x = x;
    op->y = y;
    op->right = 0;
    op->bottom = 0;
    op->colour = colour;
    copy_text(op->text, text, limit);
}

int picture_shown() {
    return state.stream_mode.load() == 1 && state.frame_valid.load() != 0 &&
           frame_buffer.bitmap != nullptr;
}

// The menu, or the waiting text, from the application list. The entries are
// copied into the list under state_lock, so the network thread cannot
// rebuild the list halfway through a row.
static void add_menu(DrawList* list, int32_t width) {
    lock_enter(&state.state_lock);
    int32_t count = state.app_count.load();
    if (count > APP_LIST_CAPACITY) count = APP_LIST_CAPACITY;
    if (state.connected.load() != 0 && count > 0) {
        int32_t selected = state.app_selected.load();
        for (int32_t i = 0; i < count; i++) {
            int32_t y = 120 + 26 * i;
            const AppEntry* entry = &state.apps[i];
            if (i == selected) add_fill(list, 26, y - 2, width - 26, y + 22, COLOUR_BAND);
            add_text(list, 40, y, COLOUR_ENTRY_NAME, FONT_TEXT, entry->name, APP_NAME_SIZE - 1);
            add_text(list, width - 140, y, i == selected ? COLOUR_LABEL_SELECTED : COLOUR_LABEL,
                     FONT_TEXT, kind_label(entry->kind));
        }
    } else if (state.connected.load() != 0) {
        add_text(list, 40, 120, COLOUR_WAITING, FONT_TEXT, WAITING_TEXT);
    }
    lock_leave(&state.state_lock);
}

void build_title_screen(DrawList* list, int32_t width, int32_t height) {
    add_fill(list, 0, 0, width, height, COLOUR_BACKGROUND);
    add_text(list, 34, 26, COLOUR_TITLE_SHADOW, FONT_TITLE, TITLE_TEXT);
    add_text(list, 30, 22, COLOUR_TITLE, FONT_TITLE, TITLE_TEXT);
    add_text(list, 34, 72, COLOUR_TAG_LINE, FONT_TEXT, TAG_LINE_TEXT);
    add_menu(list, width);

    char pin[PIN_TEXT_SIZE];
    text_load(pin, sizeof pin, state.pin_text);
    if (pin[0] != 0) {
        add_text(list, 40, height - 150, COLOUR_PIN_PROMPT, FONT_TEXT, PIN_PROMPT_TEXT);
        add_text(list, 40, height - 125, COLOUR_PIN, FONT_PIN, pin);
    }
    char status[STATUS_TEXT_SIZE];
    text_load(status, sizeof status, state.status_text);
    add_text(list, 40, height - 64, COLOUR_STATUS, FONT_TEXT, status);
    add_text(list, 40, height - 38, COLOUR_HELP, FONT_TEXT, HELP_TEXT);
}

void format_stats_line(char* out, int capacity, uint32_t fps, uint32_t kbps, uint32_t ping,
                       int32_t width, int32_t height, int32_t pointer_mode) {
    format_text(out, capacity, " %lu bilder/s  %lu kB/s  ping %lu ms  %dx%d %s",
                static_cast<unsigned long>(fps), static_cast<unsigned long>(kbps),
                static_cast<unsigned long>(ping), static_cast<int>(width),
                static_cast<int>(height), pointer_mode != 0 ? "pekare" : "l\xE5st mus");
}

void build_stats_line(DrawList* list) {
    if (state.show_stats.load() == 0) return;
    char line[DRAW_TEXT_SIZE];
    format_stats_line(line, sizeof line, state.stat_fps.load(), state.stat_kbps.load(),
                      state.ping_ms.load(), state.remote_width.load(), state.remote_height.load(),
                      state.pointer_mode.load());
    add_fill(list, 0, 0, 330, 18, COLOUR_STATS_BOX);
    add_text(list, 2, 1, COLOUR_STATS_TEXT, FONT_DEFAULT, line);
}
