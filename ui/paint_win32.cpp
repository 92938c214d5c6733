// Painting the main window with GDI: the picture is copied straight from the
// frame buffer; the title screen and the statistics line are drawing lists
// (ui/title_screen.cpp) carried out on a GDI surface by run_draw_list, which
// gives back every font and brush it makes within the paint.
#include "ui/paint.h"

#include <windows.h>

#include "core/client_state.h"
#include "media/frame_buffer.h"
#include "ui/canvas.h"
#include "ui/title_screen.h"

// One list, reused by every paint; only the window thread paints.
static DrawList paint_list;

void draw_text(void* dc, int32_t x, int32_t y, uint32_t colour, const char* text) {
    HDC hdc = static_cast<HDC>(dc);
    SetTextColor(hdc, colour);
    TextOutA(hdc, x, y, text, lstrlenA(text));
}

// The GDI side of the drawing surface (ui/canvas.h).
static void* gdi_create_font(void*, int font) {
    // Fonts of the title screen; all other parameters 0 or default.
    const char* face = font == FONT_PIN ? "Courier New" : "Arial";
    int height = font == FONT_TITLE ? 44 : font == FONT_PIN ? 36 : 18;
    int weight = font == FONT_TEXT ? FW_NORMAL : FW_BOLD;
    BOOL italic = font == FONT_TITLE ? TRUE : FALSE;
    return CreateFontA(height, 0, 0, 0, weight, italic, FALSE, FALSE, ANSI_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                       face);
}

static void* gdi_select_font(void* surface, void* font) {
    return SelectObject(static_cast<HDC>(surface), static_cast<HGDIOBJ>(font));
}

static void* gdi_create_brush(void*, uint32_t colour) { return CreateSolidBrush(colour); }

static void gdi_fill_rect(void* surface, int32_t left, int32_t top, int32_t right, int32_t bottom,
                          void* brush) {
    RECT rect = {left, top, right, bottom};
    FillRect(static_cast<HDC>(surface), &rect, static_cast<HBRUSH>(brush));
}

static void gdi_delete_object(void*, void* object) { DeleteObject(static_cast<HGDIOBJ>(object)); }

static void gdi_text_out(void* surface, int32_t x, int32_t y, uint32_t colour, const char* text) {
    draw_text(surface, x, y, colour, text);
}

// Copies the frame buffer to the window, 1:1 when the sizes match, else
// stretched over the whole client area without smoothing. The decision and
// the copy are made under state_lock, so the network thread can neither
// re-create the picture between them nor decode into it meanwhile. Returns
// 1 when the picture was drawn, 0 when the title screen is to be shown.
static int paint_picture(HDC dc, int32_t width, int32_t height) {
    lock_enter(&state.state_lock);
    int shown = picture_shown() && frame_buffer.memory_dc != nullptr;
    if (shown) {
        HDC source = static_cast<HDC>(frame_buffer.memory_dc);
        int32_t remote_width = state.remote_width.load();
        int32_t remote_height = state.remote_height.load();
        if (width == remote_width && height == remote_height) {
            BitBlt(dc, 0, 0, width, height, source, 0, 0, SRCCOPY);
        } else {
            SetStretchBltMode(dc, COLORONCOLOR);
            StretchBlt(dc, 0, 0, width, height, source, 0, 0, remote_width, remote_height,
                       SRCCOPY);
        }
    }
    lock_leave(&state.state_lock);
    return shown;
}

void paint_screen(void* dc_handle) {
    HDC dc = static_cast<HDC>(dc_handle);
    RECT client = {0, 0, 0, 0};
    GetClientRect(static_cast<HWND>(state.main_window), &client);
    int32_t width = client.right;
    int32_t height = client.bottom;
    SetBkMode(dc, TRANSPARENT);

    draw_list_clear(&paint_list);
    if (!paint_picture(dc, width, height)) build_title_screen(&paint_list, width, height);
    build_stats_line(&paint_list);
    Canvas canvas = {dc, gdi_create_font, gdi_select_font, gdi_create_brush, gdi_fill_rect,
                     gdi_delete_object, gdi_text_out};
    run_draw_list(&paint_list, &canvas);
}
