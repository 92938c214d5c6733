// Carries out the drawing of the main window with GDI.
//
// Windows 98 keeps all GDI objects of all programs in a small shared heap:
// every font and brush made here lives for one paint only and is deleted
// before paint_screen returns, whatever path it took.
#include "ui/paint.h"

#include <windows.h>

#include "app/client_state.h"
#include "media/frame_buffer.h"
#include "ui/title_screen.h"

// One list, reused by every paint; only the window thread paints.
static DrawList paint_list;

void draw_text(void* dc, int32_t x, int32_t y, uint32_t colour, const char* text) {
    HDC hdc = static_cast<HDC>(dc);
    SetTextColor(hdc, colour);
    TextOutA(hdc, x, y, text, lstrlenA(text));
}

static HFONT make_font(const char* face, int height, int weight, int italic) {
    return CreateFontA(height, 0, 0, 0, weight, italic ? TRUE : FALSE, FALSE, FALSE,
                       ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH, face);
}

static void fill(HDC dc, const DrawOp* op) {
    RECT rect = {op->x, op->y, op->right, op->bottom};
    HBRUSH brush = CreateSolidBrush(op->colour);
    if (brush == nullptr) return;
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

// Fonts of one paint, made when first needed and deleted at its end.
struct PaintFonts {
    HFONT font[4];      // by DrawFont; font[FONT_DEFAULT] stays none
    HFONT original;     // the DC's own font, selected back at the end
    int selected;       // DrawFont now selected, -1 before the first text
};

static HFONT font_for(PaintFonts* fonts, int which) {
    if (fonts->font[which] != nullptr) return fonts->font[which];
    switch (which) {
        case FONT_TITLE: fonts->font[which] = make_font("Arial", 44, FW_BOLD, 1); break;
        case FONT_TEXT: fonts->font[which] = make_font("Arial", 18, FW_NORMAL, 0); break;
        case FONT_PIN: fonts->font[which] = make_font("Courier New", 36, FW_BOLD, 0); break;
        default: break;
    }
    return fonts->font[which];
}

static void select_font(HDC dc, PaintFonts* fonts, int which) {
    if (fonts->selected == which) return;
    HFONT font = which == FONT_DEFAULT ? fonts->original : font_for(fonts, which);
    if (font == nullptr) return;  // creation failed: draw with what is selected
    HGDIOBJ previous = SelectObject(dc, font);
    if (fonts->selected < 0) fonts->original = static_cast<HFONT>(previous);
    fonts->selected = which;
}

static void run_list(HDC dc, const DrawList* list) {
    PaintFonts fonts = {{nullptr, nullptr, nullptr, nullptr}, nullptr, -1};
    for (int i = 0; i < list->count; i++) {
        const DrawOp* op = &list->ops[i];
        if (op->kind == DRAW_FILL) {
            fill(dc, op);
        } else {
            if (fonts.selected < 0 && op->font == FONT_DEFAULT) {
                // Nothing selected yet: the DC's own font is already in place.
            } else {
                select_font(dc, &fonts, op->font);
            }
            draw_text(dc, op->x, op->y, op->colour, op->text);
        }
    }
    if (fonts.selected >= 0 && fonts.original != nullptr) SelectObject(dc, fonts.original);
    for (int f = FONT_TITLE; f <= FONT_PIN; f++) {
        if (fonts.font[f] != nullptr) DeleteObject(fonts.font[f]);
    }
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
    run_list(dc, &paint_list);
}
